#pragma once

#include "CentralDirectory.h"
#include "EntryInfo.h"
#include "fileio/UniqueFd.h"

#include <zip.h>

#include <cstdint>
#include <string>

namespace unzip32 {

// One archive opened for reading, its directory checked for overlapping
// entries before anything is done with it: the one directory both libzip and
// the library's own reading take (an archive with another end record that
// would show a reader another archive is refused as damaged).
class Archive {
public:
    // Throws a JobStop with the code that says why the archive cannot be used.
    explicit Archive(const std::string& path);
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    zip_t* handle() const { return m_zip; }
    // The archive file itself, for reading an entry's stored bytes.
    int fileDescriptor() const { return m_fd.get(); }
    uint64_t entryCount() const { return m_directory.entries.size(); }
    EntryInfo entry(uint64_t index) const;
    // The largest size an entry's directory record gives its data unpacked.
    uint64_t largestEntrySize() const;
    // The archive comment as UTF-8; empty when there is none.
    std::string comment() const;

private:
    fileio::UniqueFd m_fd;
    zip_t* m_zip = nullptr;
    CentralDirectory m_directory;
};

} // namespace unzip32
