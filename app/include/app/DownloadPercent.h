#pragma once

#include <cstdint>
#include <string>

namespace updater {

// The percentage of the package received, as the decimal text the progress
// bar is given: received / total * 100 in double precision, an exact half
// going to the even neighbour. A total of 0 raises error 11 with the given
// source. The counts are 64-bit: a package may be larger than 2 GiB.
std::string downloadPercent(int64_t received, int64_t total, const std::string& source);

} // namespace updater
