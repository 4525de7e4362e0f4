// The one way files are written, with system-call failures injected through
// the seam: no root, no small file system needed.
#include "fileio/Writing.h"
#include "testsupport/CaseName.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <string>
#include <vector>

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

namespace {

// How the kernel's copy answers: as it is, refused as between file systems,
// a few bytes at a time with interruptions, or at a source that ends early.
struct KernelCopyCase {
    const char* name;
    std::function<ssize_t(const fileio::SystemCalls& real, int in, off_t* at, int out,
                          std::size_t size)>
        copy;
};

const std::vector<KernelCopyCase> kernelCopies = {
    {"AsItIs", [](const fileio::SystemCalls& real, int in, off_t* at, int out,
                  std::size_t size) { return real.copyFileRange(in, at, out, size); }},
    {"RefusedBetweenFileSystems",
     [](const fileio::SystemCalls&, int, off_t*, int, std::size_t) -> ssize_t {
         errno = EXDEV;
         return -1;
     }},
    {"FewBytesAndInterrupted",
     [](const fileio::SystemCalls& real, int in, off_t* at, int out, std::size_t size) {
         static int calls = 0;
         if (++calls % 2 == 0) {
             errno = EINTR;
             return ssize_t{-1};
         }
         return real.copyFileRange(in, at, out, std::min<std::size_t>(size, 5));
     }},
    {"SourceEndsEarly",
     [](const fileio::SystemCalls& real, int in, off_t* at, int out, std::size_t size) {
         constexpr off_t end = 11;
         return *at >= end
                    ? ssize_t{0}
                    : real.copyFileRange(in, at, out, std::min<std::size_t>(size, end - *at));
     }},
};

class KernelCopy : public ::testing::TestWithParam<KernelCopyCase> {};

// Whatever the kernel's copy does, the file gets exactly the bytes meant,
// after what was written before them.
TEST_P(KernelCopy, AppendsExactlyTheBytesMeant) {
    const testsupport::TempDir temp;
    const std::string source = "0123456789abcdefghijklmnopqrstuvwxyz";
    testsupport::writeFile(temp / "source", source);
    const fileio::UniqueFd in = fileio::openFile(temp / "source", O_RDONLY | O_CLOEXEC, 0);
    fileio::SystemCalls calls = fileio::realSystemCalls();
    const fileio::SystemCalls real = calls;
    calls.copyFileRange = [&](int from, off_t* at, int out, std::size_t size) {
        return GetParam().copy(real, from, at, out, size);
    };
    {
        const fileio::ReplacedSystemCalls replaced(calls);
        fileio::UniqueFd out = fileio::openFile(temp / "out", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(fileio::writeAll(out.get(), "head:"), 0);
        const std::string meant = source.substr(4, 20);
        ASSERT_EQ(fileio::copyFromFile(in.get(), 4, out.get(), meant.data(), meant.size()), 0);
    }
    EXPECT_EQ(testsupport::readFile(temp / "out"), "head:" + source.substr(4, 20));
}

INSTANTIATE_TEST_SUITE_P(Answers, KernelCopy, ::testing::ValuesIn(kernelCopies),
                         testsupport::CaseName());

} // namespace
