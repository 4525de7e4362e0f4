#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Whole numbers narrowed to the width a caller needs; a value that does not
// fit raises the overflow error 6 with the given source.

// Rounded half-even into a 32-bit signed integer.
int32_t roundToInt32(double value, const std::string& source);

// Rounded half-even into a 64-bit signed integer.
int64_t roundToInt64(double value, const std::string& source);

// A 32-bit value as the 16-bit value a library record takes.
int16_t narrowToInt16(int32_t value, const std::string& source);

} // namespace platform
