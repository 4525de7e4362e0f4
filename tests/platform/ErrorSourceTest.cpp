// Narrowing with the overflow error, and re-raising with one's own source.
#include "platform/Error.h"
#include "platform/Narrowing.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(NarrowToInt16, KeepsEveryValueThatFitsAndRaisesOverflowBeyond) {
    EXPECT_EQ(platform::narrowToInt16(-32768, "S"), -32768);
    EXPECT_EQ(platform::narrowToInt16(32767, "S"), 32767);
    for (const int32_t outside : {-32769, 32768, INT32_MIN, INT32_MAX}) {
        try {
            platform::narrowToInt16(outside, "CGZipFiles::MakeZipFile");
            FAIL() << outside;
        } catch (const platform::Error& e) {
            EXPECT_EQ(e.number(), 6);
            EXPECT_EQ(e.source(), "CGZipFiles::MakeZipFile");
            EXPECT_EQ(e.description(), "Overflow");
        }
    }
}

TEST(WithOwnSource, KeepsNumberAndDescriptionOrTurnsOtherFailuresIntoError5) {
    EXPECT_EQ(platform::withOwnSource("Mine", [] { return 7; }), 7);
    try {
        platform::withOwnSource("Mine", [] { platform::raiseError(53, "Inner", "a.so"); });
        FAIL() << "no error";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), 53);
        EXPECT_EQ(e.source(), "Mine");
        EXPECT_EQ(e.description(), "File not found: a.so");
    }
    try {
        platform::withOwnSource("Mine", []() -> int { throw std::runtime_error("broken"); });
        FAIL() << "no error";
    } catch (const platform::Error& e) {
        EXPECT_EQ(e.number(), 5);
        EXPECT_EQ(e.source(), "Mine");
        EXPECT_EQ(e.description(), "broken");
    }
}

} // namespace
