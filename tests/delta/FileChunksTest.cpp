// A file cut into chunks while it is read ahead on a second thread: the same
// chunks, in order, as the whole bytes cut at once, each with the SHA-256 of
// its own bytes, whatever the file's size against the blocks it is read in.
#include "delta/FileChunks.h"
#include "delta/DeltaError.h"

#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>

namespace {

struct SizeCase {
    const char* name;
    std::size_t size;
};

class FileCut : public testing::TestWithParam<SizeCase> {};

TEST_P(FileCut, GivesTheChunksOfTheWholeBytesInOrder) {
    std::string bytes(GetParam().size, '\0');
    std::mt19937 random(5);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // Runs of text between random bytes, so that chunks vary in length.
        bytes[i] =
            (i / 4096) % 3 == 0 ? static_cast<char>('a' + i % 7) : static_cast<char>(random());
    }
    const testsupport::TempDir folder;
    const std::string path = folder / "installed";
    testsupport::writeFile(path, bytes);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct Chunk {
        std::uint64_t offset;
        std::uint64_t size;
        delta::Sha256 sha256;
        bool operator==(const Chunk&) const = default;
    };
    std::vector<Chunk> found;
    delta::Sha256Digest whole("installed");
    delta::cutOpenFile(
        fd, path, {},
        [&](std::uint64_t offset, std::uint64_t size, const delta::Sha256& sha256) {
            found.push_back({offset, size, sha256});
        },
        &whole);
    ::close(fd);

    std::vector<Chunk> expected;
    std::uint64_t offset = 0;
    const auto data = std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    for (const std::uint64_t length : zipformat::chunkLengths(data, {})) {
        expected.push_back({offset, length,
                            delta::sha256Of(std::string_view(bytes).substr(
                                offset, static_cast<std::size_t>(length)))});
        offset += length;
    }
    EXPECT_EQ(found.size(), expected.size());
    EXPECT_TRUE(found == expected);
    EXPECT_EQ(whole.finish(), delta::sha256Of(bytes));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileCut,
                         testing::Values(SizeCase{"Empty", 0}, SizeCase{"OneByte", 1},
                                         SizeCase{"WithinOneBlock", 100 * 1024 + 3},
                                         SizeCase{"ExactlyOneBlock", 1 << 20},
                                         SizeCase{"ExactlyEveryBlockInFlight", 4 << 20},
                                         SizeCase{"MoreBlocksThanInFlight", (9 << 20) + 17}),
                         testsupport::CaseName());

TEST(FileCutFailure, AFileThatCannotBeReadIsADeltaError) {
    const testsupport::TempDir folder;
    const std::string path = folder / "installed";
    testsupport::writeFile(path, std::string(3 << 20, 'x'));
    // Open for writing only: every read fails.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int chunks = 0;
    EXPECT_THROW(delta::cutOpenFile(
                     fd, path, {},
                     [&chunks](std::uint64_t, std::uint64_t, const delta::Sha256&) { ++chunks; }),
                 delta::DeltaError);
    EXPECT_EQ(chunks, 0);
    ::close(fd);
}

} // namespace
