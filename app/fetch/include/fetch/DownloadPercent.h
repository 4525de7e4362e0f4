#pragma once

#include <cstdint>
#include <string>

namespace updater {

// The percentage of the package received, as the decimal text the progress
// bar is given: received / total * 100 in double precision, an exact half
// going to the even neighbour. A total of 0 raises error 11 with the given
// source. The counts are 64-bit: a package may be larger than 2 GiB.
std::string downloadPercent(int64_t received, int64_t total, const std::string& source);

// For what the changed files fetch, whose total is planned, not announced:
// the same rounding, held to 0 to 100 (0 while nothing is planned), so that
// a plan that falls short never makes the bar refuse the value.
std::string plannedPercent(uint64_t received, uint64_t total);

// For a body whose length the server did not give: a bar that moves with
// what arrived and stays short of its end until the body ends (half way at
// 4 MiB, 90 at 36 MiB, never past 99).
std::string percentWithoutTotal(int64_t received);

} // namespace updater
