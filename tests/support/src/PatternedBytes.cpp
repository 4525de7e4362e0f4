#include "testsupport/PatternedBytes.h"

namespace testsupport {

std::string patternedBytes(std::size_t size, std::size_t offset) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t at = offset + i;
        bytes[i] = static_cast<char>((at * 7 + at / 251) & 0xff);
    }
    return bytes;
}

} // namespace testsupport
