#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace delta {

// The range a 206 answer carries, "bytes FIRST-LAST/TOTAL" with the three
// numbers given: last is the last byte's offset, not one past it.
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t total = 0;
};

// Nothing for anything else: "bytes */TOTAL" (a range the server cannot
// give), an unknown total ("*"), another unit, a first past the last or a
// last past the total, signs, blanks inside the numbers.
std::optional<ContentRange> parseContentRange(std::string_view text);

} // namespace delta
