#include "zipformat/EntryTime.h"

#include "zipformat/LittleEndian.h"

#include <ctime>

namespace zipformat {

std::optional<std::int32_t> extendedModification(std::span<const unsigned char> data) {
    constexpr unsigned char modificationPresent = 1;
    if (data.size() < 5 || (data[0] & modificationPresent) == 0) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(read32(&data[1]));
}

std::int64_t dosTimeToUnix(std::uint16_t time, std::uint16_t date) {
    std::tm parts{};
    parts.tm_isdst = -1;
    parts.tm_year = ((date >> 9) & 127) + 1980 - 1900;
    parts.tm_mon = ((date >> 5) & 15) - 1;
    parts.tm_mday = date & 31;
    parts.tm_hour = (time >> 11) & 31;
    parts.tm_min = (time >> 5) & 63;
    parts.tm_sec = (time << 1) & 62;
    return static_cast<std::int64_t>(std::mktime(&parts));
}

} // namespace zipformat
