// The CRC-32 every entry is checked by: zlib's value for any length, any
// alignment and however the data is cut, the folded path and the tables'
// tail alike.
#include "zipformat/Crc32.h"

#include "testsupport/CaseName.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> noise(std::size_t size) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::vector<unsigned char> bytes(size);
    for (unsigned char& byte : bytes) {
        byte = static_cast<unsigned char>(random());
    }
    return bytes;
}

std::uint32_t zlibCrc(std::span<const unsigned char> bytes) {
    return static_cast<std::uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

struct LengthCase {
    const char* name;
    std::size_t length;
};

void PrintTo(const LengthCase& c, std::ostream* out) {
    *out << c.name;
}

class Crc32 : public testing::TestWithParam<LengthCase> {};

// Every start within a lane, so that unaligned loads and each tail length
// are taken.
TEST_P(Crc32, IsZlibsAtEveryAlignment) {
    const std::vector<unsigned char> bytes = noise(GetParam().length + 16);
    for (std::size_t start = 0; start < 16; ++start) {
        const std::span<const unsigned char> data(bytes.data() + start, GetParam().length);
        EXPECT_EQ(zipformat::crc32Update(0, data), zlibCrc(data)) << "from byte " << start;
    }
}

// A CRC carried on from one piece to the next, cut where the folding's
// blocks and lanes begin and end.
TEST_P(Crc32, IsTheSameInPieces) {
    const std::vector<unsigned char> bytes = noise(GetParam().length);
    const std::span<const unsigned char> all(bytes);
    for (const std::size_t cut : {std::size_t{1}, std::size_t{15}, std::size_t{64},
                                  std::size_t{100}, GetParam().length / 2}) {
        if (cut > all.size()) {
            continue;
        }
        const std::uint32_t first = zipformat::crc32Update(0, all.first(cut));
        EXPECT_EQ(zipformat::crc32Update(first, all.subspan(cut)), zlibCrc(all))
            << "cut at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, Crc32,
                         testing::Values(LengthCase{"Empty", 0}, LengthCase{"OneByte", 1},
                                         LengthCase{"ShortOfAFold", 63}, LengthCase{"OneFold", 64},
                                         LengthCase{"OneFoldAndATail", 64 + 15},
                                         LengthCase{"OneFoldAndALane", 64 + 16},
                                         LengthCase{"Folds", 64 * 5 + 16 * 3 + 7},
                                         LengthCase{"ABuffer", 256 * 1024 + 33}),
                         testsupport::CaseName{});

TEST(Crc32Value, OfTheCheckString) {
    const std::string check = "123456789";
    EXPECT_EQ(zipformat::crc32Update(
                  0, {reinterpret_cast<const unsigned char*>(check.data()), check.size()}),
              0xCBF43926u);
}

} // namespace
