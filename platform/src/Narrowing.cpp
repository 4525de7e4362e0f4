#include "platform/Narrowing.h"

#include "platform/Error.h"
#include "text/Numbers.h"

namespace platform {

int32_t roundToInt32(double value, const std::string& source) {
    const double rounded = text::roundHalfEven(value);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
        raiseError(ErrorNumber::overflow, source);
    }
    return static_cast<int32_t>(rounded);
}

int64_t roundToInt64(double value, const std::string& source) {
    const double rounded = text::roundHalfEven(value);
    // 2^63 itself is the first double past the range.
    if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0)) {
        raiseError(ErrorNumber::overflow, source);
    }
    return static_cast<int64_t>(rounded);
}

int16_t narrowToInt16(int32_t value, const std::string& source) {
    if (value < -32768 || value > 32767) {
        raiseError(ErrorNumber::overflow, source);
    }
    return static_cast<int16_t>(value);
}

} // namespace platform
