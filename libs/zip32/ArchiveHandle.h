#pragma once

#include <zip.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace zip32 {

struct ArchiveDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
// An open archive; going away unchanged it writes nothing.
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveDiscard>;

// Opens the archive of source (taking the source in every case); a new empty
// archive when the source has no file or truncate is set. Throws JobFailure
// with ZP_NOT_A_ZIP or ZP_ARCHIVE_UNREADABLE.
ArchiveHandle openArchive(zip_source_t* source, bool truncate, const std::string& path);

// The entries of an archive by name under the case rule.
class EntryIndex {
public:
    explicit EntryIndex(zip_t* archive);
    // The entry stored under name, exactly or under the case rule.
    std::optional<zip_uint64_t> find(const std::string& name) const;

private:
    zip_t* m_archive;
    std::map<std::u32string, zip_uint64_t> m_folded;
};

} // namespace zip32
