#pragma once

// When an entry's file was last changed, as every reader here gives it to
// the file it unpacks: the modification time of the extended timestamp
// field (0x5455), seconds since 1970 in UTC, when the entry has one; else
// the record's MS-DOS time and date, read as this machine's local time.

#include <cstdint>
#include <optional>
#include <span>

namespace zipformat {

inline constexpr std::uint16_t extendedTimestampId = 0x5455;

// The modification time in an extended timestamp field's data: its flags'
// bit 0 says it is there, a signed 32-bit number after them. Nothing when
// the data does not carry one.
std::optional<std::int32_t> extendedModification(std::span<const unsigned char> data);

// MS-DOS time and date as seconds since 1970: the local time they name,
// daylight saving time as it was on that day (mktime decides).
std::int64_t dosTimeToUnix(std::uint16_t time, std::uint16_t date);

} // namespace zipformat
