#include "platform/http/BodyBuffer.h"
#include "testsupport/PatternedBytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::BodyBuffer;

// Puts and takes in turn on a 10-byte ring; every byte comes out once, in
// order, across the wrap of the ring.
struct TurnsCase {
    const char* name;
    std::vector<std::size_t> puts;
    std::vector<std::size_t> takes; // one take after each put
    std::vector<bool> accepted;
};

TEST(BodyBuffer, HandsOutEveryByteOnceInOrderAcrossTheWrap) {
    const TurnsCase cases[] = {
        {"wraps at the end of the ring", {7, 6, 5, 7}, {5, 6, 4, 10}, {true, true, true, true}},
        {"refuses what does not fit, keeping what it holds",
         {8, 5, 2},
         {0, 0, 11},
         {true, false, true}},
        // A piece larger than the ring is taken once the ring is empty.
        {"grows for an oversized piece only when empty",
         {4, 25, 25},
         {0, 4, 25},
         {true, false, true}},
    };
    for (const TurnsCase& c : cases) {
        SCOPED_TRACE(c.name);
        BodyBuffer buffer(10);
        std::string in;
        std::string out;
        for (std::size_t i = 0; i < c.puts.size(); ++i) {
            const std::string piece = testsupport::patternedBytes(c.puts[i], in.size());
            EXPECT_EQ(buffer.put(piece.data(), piece.size()), c.accepted[i]) << i;
            if (c.accepted[i]) {
                in += piece;
            }
            std::vector<std::uint8_t> taken(c.takes[i]);
            taken.resize(buffer.take(taken.data(), taken.size()));
            out.append(taken.begin(), taken.end());
            EXPECT_EQ(buffer.size(), in.size() - out.size());
        }
        EXPECT_EQ(out.size(), in.size());
        EXPECT_TRUE(out == in);
    }
}

} // namespace
