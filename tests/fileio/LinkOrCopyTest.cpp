// An installed file put into the temp folder with the mode unpacking gives:
// the very file when its mode is that already, else a copy made with it,
// never more or fewer bits than asked whatever the creation mask says; a
// copy that fails leaves nothing behind. And the one rule for that mode.
#include "fileio/LinkOrCopy.h"
#include "fileio/Reading.h"
#include "fileio/UnpackedMode.h"
#include "testsupport/CaseName.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace {

struct ModeCase {
    const char* name;
    mode_t recorded;
    mode_t umask;
    mode_t file;
    mode_t folder;
};

class UnpackedMode : public testing::TestWithParam<ModeCase> {};

TEST_P(UnpackedMode, KeepsPermissionBitsTheMaskAllowsAndOpensToTheOwner) {
    EXPECT_EQ(fileio::unpackedFileMode(GetParam().recorded, GetParam().umask), GetParam().file);
    EXPECT_EQ(fileio::unpackedFolderMode(GetParam().recorded, GetParam().umask), GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(Modes, UnpackedMode,
                         testing::Values(ModeCase{"Executable", 0755, 022, 0755, 0755},
                                         ModeCase{"NoBitsAtAll", 0, 022, 0600, 0700},
                                         ModeCase{"SetIdAndSticky", 07755, 022, 0755, 0755},
                                         ModeCase{"ReadOnly", 0444, 0, 0644, 0744},
                                         ModeCase{"MaskTakingTheOwner", 0755, 0277, 0700, 0700}),
                         testsupport::CaseName{});

TEST(ProcessUmask, IsReadFromItsOwnLineOnly) {
    const struct {
        const char* status;
        std::optional<mode_t> mask;
    } cases[] = {
        {"Name:\tx\nUmask:\t0022\nState:\tR\n", 022},
        {"Umask:\t0077\n", 077},
        {"Name:\tx\nUmask:   027", 027},             // the last line, unended
        {"Name:\tx\nUmask:\t4777\n", 0777},          // only permission bits
        {"Name:\tUmask:\t0022\nUmask:\t0002\n", 02}, // at a line's start only
        {"Name:\tx\n", std::nullopt},
        {"Name:\tx\nUmask:\t\n", std::nullopt},
        {"Name:\tx\nUmask:\t0028\n", std::nullopt},   // not octal
        {"Name:\tx\nUmask:\t0022 x\n", std::nullopt}, // more than a number
        {"Umask:\t000000000022\n", std::nullopt},     // longer than any mask
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileio::umaskInStatus(c.status), c.mask) << c.status;
    }
}

TEST(ProcessUmask, IsTheMaskInForce) {
    const mode_t earlier = ::umask(027);
    EXPECT_EQ(fileio::processUmask(), 027u);
    ::umask(earlier);
    EXPECT_EQ(fileio::processUmask(), earlier);
}

struct TakeCase {
    const char* name;
    mode_t installed;
    mode_t wanted;
    std::size_t size;
    int refusedLink; // the errno value the file system refuses a link with
    bool linked;
};

class LinkOrCopy : public testing::TestWithParam<TakeCase> {};

// Refuses every link with error while it lives.
std::optional<fileio::ReplacedSystemCalls> refusingLinks(int error) {
    if (error == 0) {
        return std::nullopt;
    }
    fileio::SystemCalls calls = fileio::realSystemCalls();
    calls.linkat = [error](int, const char*, int, const char*, int) {
        errno = error;
        return -1;
    };
    return std::make_optional<fileio::ReplacedSystemCalls>(calls);
}

TEST_P(LinkOrCopy, GivesTheFileExactlyTheModeAsked) {
    const TakeCase& c = GetParam();
    const testsupport::TempDir temp;
    const std::string installed = temp / "installed";
    std::string bytes(c.size, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    }
    testsupport::writeFile(installed, bytes);
    ASSERT_EQ(::chmod(installed.c_str(), c.installed), 0);
    struct stat status {};
    const fileio::UniqueFd from = fileio::openRegularFile(installed, status);
    ASSERT_TRUE(from);
    const mode_t earlier = ::umask(022); // takes bits a copy is asked for
    {
        const auto refused = refusingLinks(c.refusedLink);
        EXPECT_EQ(fileio::linkOrCopy(from.get(), status, temp / "taken", c.wanted), 0);
    }
    ::umask(earlier);

    struct stat taken {};
    ASSERT_EQ(::lstat((temp / "taken").c_str(), &taken), 0);
    EXPECT_EQ(taken.st_mode & 07777, c.wanted);
    EXPECT_EQ(taken.st_ino == status.st_ino, c.linked);
    EXPECT_EQ(testsupport::readFile(temp / "taken"), bytes);
    struct stat after {};
    ASSERT_EQ(::stat(installed.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, c.installed) << "the installed file keeps its mode";
}

INSTANTIATE_TEST_SUITE_P(
    Files, LinkOrCopy,
    testing::Values(TakeCase{"SameModeIsLinked", 0755, 0755, 1000, 0, true},
                    TakeCase{"OtherModeIsCopied", 0644, 0755, 1000, 0, false},
                    TakeCase{"BitsTheMaskWouldTakeAreKept", 0600, 0666, 1000, 0, false},
                    TakeCase{"LinkAcrossDevicesIsCopied", 0755, 0755, 1000, EXDEV, false},
                    TakeCase{"LargerThanOnePiece", 0644, 0600, 700 * 1024, 0, false}),
    testsupport::CaseName{});

TEST(LinkOrCopyFailure, ACopyCutShortLeavesNothingAndANameTakenIsLeftAlone) {
    const testsupport::TempDir temp;
    testsupport::writeFile(temp / "installed", std::string(100000, 'i'));
    testsupport::writeFile(temp / "there", "there before");
    struct stat status {};
    const fileio::UniqueFd from = fileio::openRegularFile(temp / "installed", status);
    ASSERT_TRUE(from);
    {
        const testsupport::FailingWrites full(temp / "taken", ENOSPC, 4096);
        EXPECT_EQ(fileio::linkOrCopy(from.get(), status, temp / "taken", 0755), ENOSPC);
    }
    EXPECT_FALSE(testsupport::exists(temp / "taken"));
    EXPECT_EQ(fileio::linkOrCopy(from.get(), status, temp / "there", status.st_mode & 07777),
              EEXIST);
    EXPECT_EQ(fileio::linkOrCopy(from.get(), status, temp / "there", 0700), EEXIST);
    EXPECT_EQ(testsupport::readFile(temp / "there"), "there before");
}

} // namespace
