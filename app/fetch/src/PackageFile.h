#pragma once

#include "fileio/BufferedFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace updater {

// The package file being downloaded. The download's small chunks are
// gathered into few large writes; whatever has been handed to write is in
// the file once the file is closed or destroyed (a failure on the way out)
// and when the program is ended at once from the window, whose end flushes
// every open buffered file first.
class PackageFile {
public:
    enum class Opening {
        empty,  // creates the file or empties an existing one
        append, // goes on after what an existing file holds
    };
    // Raises the file error.
    PackageFile(const std::string& path, const std::string& source, Opening opening);

    void write(const std::uint8_t* data, std::size_t size);
    // Writes what is held back and closes, raising what the system reports.
    void close();

private:
    void check(int error) const;

    std::string m_path;
    std::string m_source;
    fileio::BufferedFile m_file;
};

} // namespace updater
