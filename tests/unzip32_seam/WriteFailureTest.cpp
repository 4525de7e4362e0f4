// A full disk stops the job with its own code and leaves no partial file; a
// failing device gives up entry after entry. Failures come through the
// file-writing seam, so no root and no small file system are needed.
#include "testsupport/FailingWrites.h"
#include "testsupport/OneProcessor.h"
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "unzip32test/FullDiskCase.h"
#include "unzip32test/UnzipHarness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>

namespace unzip32test {
namespace {

class WriteFailure : public testing::Test {
protected:
    WriteFailure() : archive(fullDiskArchive(temp.path())) {
        testsupport::TempDir::makeFolder(temp / "out");
    }

    testsupport::TempDir temp;
    std::string archive;
};

TEST_F(WriteFailure, AFullDiskStopsTheJobCleanly) {
    const testsupport::FailingWrites full(temp / "out", ENOSPC, 1024 * 1024);
    expectStoppedByTheFullDisk(archive, temp / "out");
}

// The device fails every write once it has failed: each later entry is
// tried and given up in turn. One processor keeps the entries in order.
TEST_F(WriteFailure, AFailingDeviceGivesUpEachEntryAndGoesOn) {
    UnzipCall call;
    {
        const testsupport::OneProcessor inOrder;
        const testsupport::FailingWrites failing(temp / "out", EIO, 1024 * 1024);
        EXPECT_EQ(call.run(archive, temp / "out"), UZP_WRITE_FAILED);
    }
    EXPECT_EQ(readTree(temp / "out"), (Tree{{"a.txt", "first"}}));
    for (const char* name : {"b.bin", "c.txt"}) {
        EXPECT_NE(call.printed.find(std::string("error: ") + name +
                                    ": cannot write the file: Input/output error"),
                  std::string::npos)
            << call.printed;
    }
}

// Entries unpacked side by side meet the failing device in any order; none
// is ever left in part, under its name or another.
TEST_F(WriteFailure, AFailingDeviceLeavesOnlyWholeFilesWhateverTheOrder) {
    for (int round = 0; round < 20; ++round) {
        const std::string out = temp / ("out" + std::to_string(round));
        testsupport::TempDir::makeFolder(out);
        UnzipCall call;
        {
            const testsupport::FailingWrites failing(out, EIO, 1024 * 1024);
            EXPECT_EQ(call.run(archive, out), UZP_WRITE_FAILED);
        }
        for (const auto& [name, bytes] : readTree(out)) {
            EXPECT_EQ(bytes, name == "a.txt"   ? "first"
                             : name == "c.txt" ? "last"
                                               : "(none)")
                << name;
        }
        EXPECT_NE(call.printed.find("error: b.bin: cannot write the file"), std::string::npos)
            << call.printed;
    }
}

// A file large enough to be written on a thread of its own while the next
// piece inflates: whole when the disk holds, and failing as any other file
// when it does not, nothing of it left.
TEST(LargeFileWriteFailure, WrittenBehindItLandsWholeOrNotAtAll) {
    const testsupport::TempDir temp;
    std::string large(6 * 1024 * 1024 + 5, '\0');
    std::mt19937 random(11);
    for (std::size_t i = 0; i < large.size(); i += 2) {
        large[i] = static_cast<char>(random());
    }
    writeTree(temp / "source", {{"a.txt", "first"}, {"b.bin", large}, {"c.txt", "last"}});
    const std::string archive = scriptArchive("deflated", temp / "p.zip", temp / "source");
    {
        UnzipCall call;
        ASSERT_EQ(call.run(archive, temp / "whole"), UZP_OK) << call.printed;
        EXPECT_EQ(readTree(temp / "whole"),
                  (Tree{{"a.txt", "first"}, {"b.bin", large}, {"c.txt", "last"}}));
    }
    const struct {
        int error;
        int32_t result;
    } failures[] = {{ENOSPC, UZP_DISK_FULL}, {EIO, UZP_WRITE_FAILED}};
    for (const auto& failure : failures) {
        const std::string out = temp / ("out" + std::to_string(failure.error));
        testsupport::TempDir::makeFolder(out);
        UnzipCall call;
        {
            const testsupport::OneProcessor inOrder;
            const testsupport::FailingWrites failing(out, failure.error, 1024 * 1024);
            EXPECT_EQ(call.run(archive, out), failure.result);
        }
        EXPECT_EQ(readTree(out), (Tree{{"a.txt", "first"}})) << failure.error;
        EXPECT_NE(call.printed.find("error: b.bin: cannot write the file"), std::string::npos)
            << call.printed;
    }
}

} // namespace
} // namespace unzip32test
