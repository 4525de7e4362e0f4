#pragma once

#include "fileio/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The package file being downloaded. Writes go straight to the system, with
// no buffer of our own, so every byte written stays in the file however the
// program ends. The file is closed on every way out.
class PackageFile {
public:
    // Creates the file or empties an existing one; raises the file error.
    PackageFile(const std::string& path, const std::string& source);

    void write(const std::uint8_t* data, std::size_t size);
    // Closes now, raising what the system reports at close.
    void close();

private:
    std::string m_path;
    std::string m_source;
    fileio::UniqueFd m_fd;
};
