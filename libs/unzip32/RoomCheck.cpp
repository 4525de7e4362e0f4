#include "RoomCheck.h"

#include "Archive.h"
#include "EntrySelection.h"
#include "JobError.h"
#include "fileio/Room.h"
#include "unzip32.h"

#include <algorithm>
#include <limits>

namespace unzip32 {

void requireRoom(const Archive& archive, const EntrySelection& selection,
                 const std::string& folder) {
    uint64_t needed = 0;
    for (uint64_t index = 0; index < archive.entryCount(); ++index) {
        try {
            const EntryInfo entry = archive.entry(index);
            if (entry.kind == EntryKind::File && selection.selects(entry.name)) {
                needed += std::min(entry.size, std::numeric_limits<uint64_t>::max() - needed);
            }
        } catch (const EntryFault&) {
            continue;
        }
    }
    if (const auto shortfall =
            fileio::roomShortfall(folder.empty() ? "." : folder, needed, "unpacking the archive")) {
        throw JobStop(UZP_DISK_FULL, shortfall->sentence);
    }
}

} // namespace unzip32
