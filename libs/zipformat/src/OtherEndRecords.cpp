#include "zipformat/OtherEndRecords.h"

#include <algorithm>

namespace zipformat {

TakenDirectory::TakenDirectory(const DirectoryLocation& location,
                               std::vector<std::uint64_t> localHeaderOffsets)
    : m_location(location), m_entryStarts(std::move(localHeaderOffsets)) {
    // An entry said to begin at or past the directory bounds no bytes here.
    std::erase_if(m_entryStarts, [&](std::uint64_t start) { return start >= location.offset; });
    std::sort(m_entryStarts.begin(), m_entryStarts.end());
    m_entryStarts.push_back(location.offset);
}

bool TakenDirectory::rivalledBy(const DirectoryLocation& other, std::uint64_t endOffset,
                                const std::function<bool(std::uint64_t)>& centralRecordAt) const {
    if (other == m_location || other.entryCount == 0 || other.offset > endOffset ||
        other.size > endOffset - other.offset) {
        return false;
    }
    return !insideOneEntry(other.offset, other.size) && centralRecordAt(other.offset);
}

bool TakenDirectory::insideOneEntry(std::uint64_t offset, std::uint64_t size) const {
    // The last entry start at or before offset; the next start ends that entry.
    const auto next = std::upper_bound(m_entryStarts.begin(), m_entryStarts.end(), offset);
    return next != m_entryStarts.begin() && next != m_entryStarts.end() && size <= *next - offset;
}

} // namespace zipformat
