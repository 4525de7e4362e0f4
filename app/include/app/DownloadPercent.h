#pragma once

#include <cstdint>
#include <string>

namespace updater {

// The percentage of the package received, as the decimal text the progress
// bar is given: received / total * 100 in double precision, an exact half
// going to the even neighbour. A total of 0 raises error 11 with the given
// source.
std::string downloadPercent(int32_t received, int32_t total, const std::string& source);

} // namespace updater
