// A full disk stops the job with its own code and leaves no partial file; a
// failing device gives up entry after entry. Failures come through the
// file-writing seam, so no root and no small file system are needed.
#include "ArchiveTools.h"
#include "UnzipHarness.h"
#include "tests/support/FailingWrites.h"
#include "tests/support/PatternedBytes.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace unzip32test {
namespace {

class WriteFailure : public testing::Test {
protected:
    WriteFailure() {
        writeTree(temp / "source", {{"a.txt", "first"},
                                    {"b.bin", testsupport::patternedBytes(3 * 1024 * 1024)},
                                    {"c.txt", "last"}});
        archive = scriptArchive("stored", temp / "p.zip", temp / "source");
        testsupport::TempDir::makeFolder(temp / "out");
    }

    testsupport::TempDir temp;
    std::string archive;
};

TEST_F(WriteFailure, AFullDiskStopsTheJobCleanly) {
    UnzipCall call;
    {
        const testsupport::FailingWrites full(temp / "out", ENOSPC, 1024 * 1024);
        EXPECT_EQ(call.run(archive, temp / "out"), UZP_DISK_FULL);
    }
    EXPECT_EQ(readTree(temp / "out"), (Tree{{"a.txt", "first"}}));
    EXPECT_NE(call.printed.find("error: b.bin: cannot write the file: No space left on device"),
              std::string::npos)
        << call.printed;
    EXPECT_EQ(call.printed.find("c.txt"), std::string::npos) << "the job goes no further";
}

// The device fails every write once it has failed: each later entry is
// tried and given up in turn.
TEST_F(WriteFailure, AFailingDeviceGivesUpEachEntryAndGoesOn) {
    UnzipCall call;
    {
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

} // namespace
} // namespace unzip32test
