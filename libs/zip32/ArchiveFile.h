#pragma once

#include "fileio/UniqueFd.h"

#include <zip.h>

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace zip32 {

// The archive on disk as libzip sees it: the existing file (if any) is read
// in place, and everything written goes to a temporary file beside it that
// replaces the archive only when libzip commits a complete archive. Writes
// are gathered into large pieces before they go to the disk.
class ArchiveFile {
public:
    explicit ArchiveFile(const std::string& path);
    ~ArchiveFile();
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    bool exists() const { return m_exists; }
    const struct stat& status() const { return m_status; }
    const std::string& path() const { return m_path; }
    // Bytes before the first entry that are kept in front of the new archive
    // (a self-extractor's program).
    void keepPrefix(uint64_t length) { m_prefixLength = length; }

    // A source for zip_open_from_source; freeing it leaves this object be.
    zip_source_t* source(zip_error_t* error);
    // The errno of the first failed write or commit, 0 when none failed.
    int writeError() const { return m_writeError; }

private:
    static zip_int64_t call(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t fail(int zipError, int systemError);
    zip_int64_t failWrite(int systemError);
    zip_int64_t read(void* data, zip_uint64_t length);
    bool beginWrite();
    bool write(const void* data, zip_uint64_t length);
    bool flush();
    bool seekWrite(void* data, zip_uint64_t length);
    bool commit();
    void discardTemporary();

    std::string m_path;
    bool m_exists = false;
    struct stat m_status {};
    uint64_t m_prefixLength = 0;
    zip_error_t m_error{};
    fileio::UniqueFd m_readFd;
    uint64_t m_readPosition = 0;
    fileio::UniqueFd m_writeFd;
    int m_writeError = 0;
    std::string m_temporaryPath;
    std::vector<char> m_pending;
    // Where the pending bytes go, and the length of what is written so far.
    uint64_t m_pendingStart = 0;
    uint64_t m_writtenLength = 0;
};

} // namespace zip32
