#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Whole numbers narrowed to the width a caller needs; a value that does not
// fit raises the overflow error 6 with the given source.

// Rounded half-even into a 32-bit signed integer.
int32_t roundToInt32(double value, const std::string& source);

} // namespace platform
