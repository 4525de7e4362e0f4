// The two ways of compressing a SHA-1 block give the same state: the
// processor's instructions (where it has them) against the portable rounds,
// from the standard's digests and from states and blocks of any bits.
#include "Sha1.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using zipformat::sha1::Block;
using zipformat::sha1::State;

State digestOf(const std::string& text, zipformat::sha1::CompressFunction compress) {
    zipformat::sha1::Hasher hasher;
    hasher.update({reinterpret_cast<const unsigned char*>(text.data()), text.size()});
    const State viaHasher = hasher.finish();
    // The same message as one padded block, through the way under test.
    Block block{};
    for (std::size_t i = 0; i < text.size(); ++i) {
        block[i / 4] |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[i]))
                        << (24 - 8 * (i % 4));
    }
    block[text.size() / 4] |= 0x80000000u >> (8 * (text.size() % 4));
    block.back() = static_cast<std::uint32_t>(text.size() * 8);
    const State direct = compress(zipformat::sha1::initialState, block);
    EXPECT_EQ(direct, viaHasher) << text;
    return direct;
}

TEST(Sha1Compression, EachWayGivesTheStandardsDigests) {
    const State abc{0xa9993e36, 0x4706816a, 0xba3e2571, 0x7850c26c, 0x9cd0d89d};
    const State empty{0xda39a3ee, 0x5e6b4b0d, 0x3255bfef, 0x95601890, 0xafd80709};
    EXPECT_EQ(digestOf("abc", &zipformat::sha1::compressPortably), abc);
    EXPECT_EQ(digestOf("", &zipformat::sha1::compressPortably), empty);
    if (const auto instructions = zipformat::sha1::compressOnInstructions()) {
        EXPECT_EQ(digestOf("abc", instructions), abc);
        EXPECT_EQ(digestOf("", instructions), empty);
    }
}

TEST(Sha1Compression, InstructionsAgreeWithThePortableRounds) {
    const auto instructions = zipformat::sha1::compressOnInstructions();
    if (instructions == nullptr) {
        GTEST_SKIP() << "this processor has no SHA instructions";
    }
    std::mt19937 random(6070);
    for (int i = 0; i < 2000; ++i) {
        State state;
        Block block;
        for (auto& word : state) {
            word = static_cast<std::uint32_t>(random());
        }
        for (auto& word : block) {
            // Every fourth case all bits set or clear, where carries run furthest.
            word = i % 4 == 1 ? 0xFFFFFFFF : i % 4 == 2 ? 0 : static_cast<std::uint32_t>(random());
        }
        ASSERT_EQ(instructions(state, block), zipformat::sha1::compressPortably(state, block))
            << "case " << i;
    }
}

// Blocks compressed side by side, one to four of them, each come out as the
// portable rounds give it alone.
TEST(Sha1Compression, SideBySideAgreesWithOneAtATime) {
    std::mt19937 random(8018);
    for (const auto compressEach : {zipformat::sha1::chosenCompressSideBySide(),
                                    zipformat::sha1::compressSideBySideOnInstructions()}) {
        if (compressEach == nullptr) {
            continue;
        }
        for (std::size_t count = 1; count <= zipformat::sha1::maxSideBySide; ++count) {
            State state;
            for (auto& word : state) {
                word = static_cast<std::uint32_t>(random());
            }
            Block blocks[zipformat::sha1::maxSideBySide];
            for (auto& block : blocks) {
                for (auto& word : block) {
                    word = static_cast<std::uint32_t>(random());
                }
            }
            State next[zipformat::sha1::maxSideBySide];
            compressEach(state, blocks, next, count);
            for (std::size_t i = 0; i < count; ++i) {
                EXPECT_EQ(next[i], zipformat::sha1::compressPortably(state, blocks[i]))
                    << count << " side by side, block " << i;
            }
        }
    }
}

} // namespace
