#pragma once

#include "fileio/UniqueFd.h"

#include <zip.h>

#include <memory>
#include <string>

namespace zip32 {

// The first file that could not be read while the archive was written.
struct ReadFailure {
    std::string path;
    int error = 0;
    // Why the file was not read when it was no longer a file to read (what
    // it is now); empty when error tells.
    std::string refusal;
};

// The bytes of one entry as libzip reads them while it writes the archive.
// Subclasses say what the bytes are and read them; this class answers
// libzip's calls and records the first read failure.
class EntrySource {
public:
    EntrySource(std::string path, ReadFailure& failure);
    virtual ~EntrySource();
    EntrySource(const EntrySource&) = delete;
    EntrySource& operator=(const EntrySource&) = delete;

    // Hands the source to libzip, which deletes it when it is done; null
    // (and the source gone) when libzip cannot take it.
    static zip_source_t* attach(zip_t* archive, std::unique_ptr<EntrySource> source);

protected:
    virtual void describe(zip_stat_t& stat) const = 0;
    // Both give -1 with errno set on failure.
    virtual int open() = 0;
    virtual zip_int64_t read(void* data, zip_uint64_t length) = 0;
    virtual void close() = 0;

    const std::string& path() const { return m_path; }
    // The file opened to read as openChosenFile does; when it is no longer
    // a file, the refusal is recorded and errno is EINVAL.
    fileio::UniqueFd openChosen();
    // Records, unless a failure came first, that the file is not read and
    // why; open then gives -1.
    void refuse(const std::string& why);

private:
    static zip_int64_t call(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t answer(void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t fail(int zipError, int systemError);

    std::string m_path;
    ReadFailure& m_failure;
    zip_error_t m_error{};
};

} // namespace zip32
