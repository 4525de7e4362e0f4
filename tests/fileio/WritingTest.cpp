// The one way files are written, with system-call failures injected through
// the seam: no root, no small file system needed.
#include "fileio/Writing.h"
#include "testsupport/CaseName.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>

namespace {

using testsupport::FailingWrites;

// Every write takes at most three bytes, and every other one is interrupted
// by a signal before it takes anything.
fileio::SystemCalls slowInterruptedWrites(int& calls) {
    fileio::SystemCalls system = fileio::realSystemCalls();
    const auto realWrite = system.write;
    system.write = [&calls, realWrite](int fd, const void* data, std::size_t size) -> ssize_t {
        if (++calls % 2 == 1) {
            errno = EINTR;
            return -1;
        }
        return realWrite(fd, data, std::min<std::size_t>(size, 3));
    };
    return system;
}

TEST(WriteAll, TakesUpShortAndInterruptedWritesUntilEveryByteIsWritten) {
    const testsupport::TempDir temp;
    const std::string path = temp / "out";
    const std::string data = "every byte of this reaches the file";
    int calls = 0;
    {
        const fileio::ReplacedSystemCalls replaced(slowInterruptedWrites(calls));
        fileio::UniqueFd file = fileio::openFile(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_TRUE(file);
        EXPECT_EQ(fileio::writeAll(file.get(), data), 0);
        EXPECT_TRUE(file.close());
    }
    EXPECT_EQ(testsupport::readFile(path), data);
    EXPECT_EQ(calls, 24);
}

struct Failure {
    const char* name;
    int error;
    std::size_t room;
};

class WriteFailure : public testing::TestWithParam<Failure> {};

TEST_P(WriteFailure, IsReportedAfterWhatFitAndNoMoreWritesAreTried) {
    const Failure& c = GetParam();
    const testsupport::TempDir temp;
    const std::string path = temp / "out";
    fileio::UniqueFd file = fileio::openFile(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_TRUE(file);
    const FailingWrites failing(path, c.error, c.room);
    EXPECT_EQ(fileio::writeAll(file.get(), std::string(100, 'x')), c.error);
    EXPECT_EQ(failing.failedWrites(), 1u);
    EXPECT_EQ(testsupport::readFile(path), std::string(c.room, 'x'));
}

INSTANTIATE_TEST_SUITE_P(Errors, WriteFailure,
                         testing::Values(Failure{"FullDiskAtOnce", ENOSPC, 0},
                                         Failure{"FullDiskMidway", ENOSPC, 40},
                                         Failure{"QuotaAtTheLastByte", EDQUOT, 99},
                                         Failure{"FailingDevice", EIO, 7}),
                         testsupport::CaseName());

TEST(WriteAll, AWriteThatTakesNothingCountsAsAFullDisk) {
    fileio::SystemCalls system = fileio::realSystemCalls();
    system.write = [](int, const void*, std::size_t) -> ssize_t { return 0; };
    const fileio::ReplacedSystemCalls replaced(system);
    EXPECT_EQ(fileio::writeAll(1, "x"), ENOSPC);
    EXPECT_EQ(fileio::writeAll(1, ""), 0);
}

TEST(AppendToFile, AppendsAndCreatesWithTheGivenMode) {
    const testsupport::TempDir temp;
    const std::string path = temp / "log";
    EXPECT_EQ(fileio::appendToFile(path, "one\n", 0640), 0);
    EXPECT_EQ(fileio::appendToFile(path, "two\n", 0600), 0);
    EXPECT_EQ(testsupport::readFile(path), "one\ntwo\n");
    EXPECT_EQ(fileio::appendToFile(temp / "missing/log", "x", 0600), ENOENT);
}

TEST(AppendToFile, ReportsTheWriteFailureBeforeAFailureAtClose) {
    const testsupport::TempDir temp;
    const std::string path = temp / "log";
    testsupport::writeFile(path, "kept\n");
    {
        const FailingWrites failing(path, ENOSPC, 2, EIO);
        EXPECT_EQ(fileio::appendToFile(path, "record\n", 0600), ENOSPC);
    }
    {
        const FailingWrites closing(path, ENOSPC, 100, EIO);
        EXPECT_EQ(fileio::appendToFile(path, "more\n", 0600), EIO);
    }
    EXPECT_EQ(testsupport::readFile(path), "kept\nremore\n");
}

// A replacement is whole or not there: a failure leaves the old file as it
// was and nothing beside it.
TEST(ReplaceFile, LeavesTheOldFileWholeOrTheNewOne) {
    testsupport::TempDir folder;
    const std::string path = folder / "record";
    testsupport::writeFile(path, "old");
    ASSERT_EQ(fileio::replaceFile(path, "new", 0640), 0);
    EXPECT_EQ(testsupport::readFile(path), "new");
    {
        FailingWrites full(path + ".new", ENOSPC, 1);
        EXPECT_EQ(fileio::replaceFile(path, "newer", 0640), ENOSPC);
    }
    EXPECT_EQ(testsupport::readFile(path), "new");
    EXPECT_FALSE(testsupport::exists(path + ".new"));
}

} // namespace
