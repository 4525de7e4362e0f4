#include "platform/files/Room.h"

#include "fileio/Room.h"
#include "platform/Error.h"

namespace platform {

void requireRoom(const std::string& folder, std::uint64_t needed, const std::string& what,
                 const std::string& source) {
    if (const auto shortfall = fileio::roomShortfall(folder, needed, what)) {
        if (shortfall->beyondDisk) {
            throw Error(ErrorNumber::diskFull, source, shortfall->sentence);
        }
        raiseError(ErrorNumber::diskFull, source, shortfall->sentence);
    }
}

} // namespace platform
