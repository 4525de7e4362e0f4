#include "testsupport/PatternedBytes.h"

#include <random>

namespace testsupport {

std::string patternedBytes(std::size_t size, std::size_t offset) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t at = offset + i;
        bytes[i] = static_cast<char>((at * 7 + at / 251) & 0xff);
    }
    return bytes;
}

std::string halfTextHalfRandom(std::size_t size, unsigned seed) {
    static const char* const words[] = {"update ",  "morvane ", "chunk\n", "install ",
                                        "version ", "0x7f ",    "return ", "file "};
    std::mt19937_64 random(seed);
    std::string bytes;
    bytes.reserve(size);
    while (bytes.size() < size / 2) {
        bytes += words[random() % 8];
    }
    bytes.resize(size / 2);
    while (bytes.size() < size) {
        bytes.push_back(static_cast<char>(random()));
    }
    return bytes;
}

} // namespace testsupport
