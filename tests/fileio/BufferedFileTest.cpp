// The buffered file the package download writes through: few system calls,
// and every byte handed over in the file however the file's life ends.
#include "fileio/BufferedFile.h"
#include "fileio/Writing.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <string>

namespace {

using testsupport::patternedBytes;

fileio::UniqueFd created(const std::string& path) {
    return fileio::openFile(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

// Counts the writes that reach the system.
fileio::SystemCalls countedWrites(int& writes) {
    fileio::SystemCalls system = fileio::realSystemCalls();
    const auto realWrite = system.write;
    system.write = [&writes, realWrite](int fd, const void* data, std::size_t size) {
        ++writes;
        return realWrite(fd, data, size);
    };
    return system;
}

// Pieces of the given sizes, one after the other, through a 4096-byte buffer.
struct PiecesCase {
    const char* name;
    std::vector<std::size_t> pieces;
    int writes; // system calls, the close's flush included
};

TEST(BufferedFile, GathersPiecesIntoFewWritesKeepingEveryByteInOrder) {
    const PiecesCase cases[] = {
        {"small pieces fill the buffer before it is written", {1024, 1024, 1024, 1024, 1024}, 2},
        {"a piece that does not fit sends the buffer first", {3000, 3000, 10}, 2},
        {"a piece as large as the buffer goes straight through", {10, 5000, 10}, 3},
        {"empty pieces write nothing", {0, 0}, 0},
    };
    for (const PiecesCase& c : cases) {
        SCOPED_TRACE(c.name);
        const testsupport::TempDir temp;
        std::string expected;
        int writes = 0;
        {
            const fileio::ReplacedSystemCalls replaced(countedWrites(writes));
            fileio::BufferedFile file(created(temp / "out"), 4096);
            for (std::size_t size : c.pieces) {
                const std::string piece = patternedBytes(size, expected.size());
                ASSERT_EQ(file.write(piece.data(), piece.size()), 0);
                expected += piece;
            }
            EXPECT_EQ(file.close(), 0);
        }
        EXPECT_EQ(writes, c.writes);
        EXPECT_TRUE(testsupport::readFile(temp / "out") == expected);
    }
}

// The ways a file's life ends while bytes are still held back.
struct EndingCase {
    const char* name;
    std::function<void(fileio::BufferedFile&)> end;
    bool beforeDestruction; // the bytes are there before the object goes away
};

TEST(BufferedFile, BytesHeldBackReachTheFileHoweverItsLifeEnds) {
    const EndingCase cases[] = {
        {"closed", [](fileio::BufferedFile& file) { EXPECT_EQ(file.close(), 0); }, true},
        {"destroyed on the way out of a failure", [](fileio::BufferedFile&) {}, false},
        // The program's immediate end runs no destructor: the bytes must be
        // there while the object still lives.
        {"the program ends at once", [](fileio::BufferedFile&) { fileio::flushOpenFiles(); }, true},
    };
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const testsupport::TempDir temp;
        const std::string path = temp / "morvane.zip";
        std::string onDisk;
        {
            fileio::BufferedFile file(created(path), 1 << 20);
            ASSERT_EQ(file.write("received so far", 15), 0);
            c.end(file);
            onDisk = testsupport::readFile(path);
        }
        EXPECT_EQ(onDisk, c.beforeDestruction ? "received so far" : "");
        EXPECT_EQ(testsupport::readFile(path), "received so far");
    }
}

TEST(BufferedFile, AFailedWriteKeepsWhatFitAndIsReportedFromThenOn) {
    const testsupport::TempDir temp;
    const std::string path = temp / "out";
    const std::string bytes = patternedBytes(10000);
    fileio::BufferedFile file(created(path), 4096);
    {
        const testsupport::FailingWrites full(path, ENOSPC, 3000);
        ASSERT_EQ(file.write(bytes.data(), 4000), 0);
        EXPECT_EQ(file.write(bytes.data() + 4000, 4000), ENOSPC);
        EXPECT_EQ(file.write(bytes.data() + 8000, 10), ENOSPC);
        EXPECT_EQ(file.flush(), ENOSPC);
        EXPECT_EQ(file.close(), ENOSPC);
    }
    EXPECT_TRUE(testsupport::readFile(path) == bytes.substr(0, 3000));
}

TEST(BufferedFile, AFailureAtCloseIsReported) {
    const testsupport::TempDir temp;
    const std::string path = temp / "out";
    fileio::BufferedFile file(created(path), 4096);
    ASSERT_EQ(file.write("abc", 3), 0);
    const testsupport::FailingWrites delayed(path, EIO, 100, EIO);
    EXPECT_EQ(file.close(), EIO);
    EXPECT_EQ(testsupport::readFile(path), "abc");
}

} // namespace
