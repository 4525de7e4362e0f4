// Whether the offered version is newer: the installed file version's first,
// second and fourth part against the answer's three pieces, by what they
// are worth; and whether a package signed for it moves the installation
// forward.
#include "run/UpdateDecision.h"
#include "signature/VersionText.h"
#include "testsupport/CaseName.h"
#include "text/Pieces.h"

#include <gtest/gtest.h>

using updater::InstalledVersion;
using updater::readOfferedVersion;
using updater::updateStatusFor;

namespace {

struct VersionCase {
    const char* name;
    std::string installed; // the file version; empty: no morvane.exe
    std::string answer;
    std::string status;
    // Whether a package signed for the offer may replace the installation:
    // only a plainly higher version does, whatever the status says.
    bool forward;
};

// The fields the check keeps of a file version: its parts 1, 2 and 4.
InstalledVersion installedFields(const std::string& fileVersion) {
    const std::vector<std::string> parts = text::splitText(fileVersion, '.');
    InstalledVersion fields;
    for (const std::size_t part : {0u, 1u, 3u}) {
        if (part < parts.size()) {
            fields[part == 3 ? 2 : part] = parts[part];
        }
    }
    return fields;
}

class VersionDecision : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionDecision, ComparesFirstSecondAndFourthPartsNumerically) {
    const VersionCase& c = GetParam();
    EXPECT_EQ(updateStatusFor(installedFields(c.installed), readOfferedVersion(c.answer)),
              c.status);
}

TEST_P(VersionDecision, OnlyAPlainlyHigherVersionMovesTheInstallationForward) {
    const VersionCase& c = GetParam();
    EXPECT_EQ(updater::movesForward(installedFields(c.installed), readOfferedVersion(c.answer)),
              c.forward);
}

const std::vector<VersionCase> versionCases = {
    VersionCase{"SameVersion", "1.2.0.5", "1.2.5", "NO_UPDATE", false},
    VersionCase{"NewerFourth", "1.2.0.5", "1.2.6", "UPDATE_AVAILABLE", true},
    VersionCase{"NewerSecond", "1.2.0.5", "1.3.0", "UPDATE_AVAILABLE", true},
    VersionCase{"NewerFirst", "1.2.0.5", "2.0.0", "UPDATE_AVAILABLE", true},
    // An old release the check offers: signed, it still must not install.
    VersionCase{"OldReleaseServedAgain", "1.3.0.0", "1.2.7", "UPDATE_AVAILABLE", false},
    VersionCase{"SmallerFirstGreaterSecond", "2.0.0.0", "1.5.0", "UPDATE_AVAILABLE", false},
    VersionCase{"ThirdPieceMeetsFourthPart", "1.2.3.4", "1.2.9", "UPDATE_AVAILABLE", true},
    VersionCase{"ThirdPartIsNotCompared", "1.2.9.4", "1.2.5", "UPDATE_AVAILABLE", true},
    VersionCase{"LeadingZeros", "1.2.0.5", "01.02.06", "UPDATE_AVAILABLE", true},
    VersionCase{"BeyondThirtyTwoBits", "1.2.0.5", "1.2.4294967296", "UPDATE_AVAILABLE", true},
    VersionCase{"NumericNotAlphabetical", "1.9.0.0", "1.10.0", "UPDATE_AVAILABLE", true},
    VersionCase{"TrailingLineEnd", "1.2.0.5", "1.2.5\r\n", "NO_UPDATE", false},
    VersionCase{"EmptyAnswer", "1.2.0.5", "", "NA", false},
    VersionCase{"LeadingDot", "1.2.0.5", ".5.6", "NA", false},
    VersionCase{"NoDotsFirstOnly", "1.2.0.5", "3", "UPDATE_AVAILABLE", true},
    VersionCase{"NoDotsNotNewer", "1.2.0.5", "1", "NO_UPDATE", false},
    VersionCase{"MissingExeZero", "", "0.0.0", "NO_UPDATE", true},
    VersionCase{"MissingExeOne", "", "0.0.1", "UPDATE_AVAILABLE", true},
    VersionCase{"ErrorPageTextCountsAsZero", "1.2.0.5", "<html>gone</html>", "NO_UPDATE", false},
    // A byte order mark is no part of the version it stands before.
    VersionCase{"ByteOrderMarkBeforeNewerFirst", "1.2.0.5",
                "\xEF\xBB\xBF"
                "2.0.0",
                "UPDATE_AVAILABLE", true},
    VersionCase{"ByteOrderMarkBeforeSame", "1.2.0.5",
                "\xEF\xBB\xBF"
                "1.2.5",
                "NO_UPDATE", false},
    VersionCase{"ByteOrderMarkAlone", "1.2.0.5", "\xEF\xBB\xBF", "NA", false}};

INSTANTIATE_TEST_SUITE_P(Examples, VersionDecision, ::testing::ValuesIn(versionCases),
                         testsupport::CaseName());

// A publisher with a key writes its signed release line after the version
// and a CR LF; read as the check reads any answer, it changes nothing.
TEST(VersionDecisionWithReleaseLine, AReleaseLineAfterAVersionOfThreeNumbersChangesNothing) {
    for (const VersionCase& c : versionCases) {
        // Only what a publisher writes: three numbers.
        if (!signature::isVersionText(c.answer)) {
            continue;
        }
        SCOPED_TRACE(c.name);
        const std::string withLine = c.answer + "\r\nmorvane-release v1 version=" + c.answer +
                                     " size=4096 sha512=" + std::string(128, 'a') +
                                     " expires=2027-01-08T00:00:00Z key=" + std::string(43, 'A') +
                                     "= ed25519=" + std::string(86, 'B') + "==";
        const InstalledVersion installed = installedFields(c.installed);
        EXPECT_EQ(updateStatusFor(installed, readOfferedVersion(withLine)), c.status);
        EXPECT_EQ(text::versionValues(readOfferedVersion(withLine)),
                  text::versionValues(readOfferedVersion(c.answer)));
    }
}

TEST(VersionAnswer, AWebPageIsNoVersion) {
    const struct {
        const char* answer;
        bool page;
    } cases[] = {
        {"<html><body>Sign in</body></html>", true},
        {"\xEF\xBB\xBF<!DOCTYPE html>", true},
        {" \r\n\t<?xml version=\"1.0\"?>", true},
        {"1.3.0\r\n<html>", false},
        {"", false},
        {"\r\n", false},
        {".5.6", false},
        {"version <1.3.0>", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(updater::isWebPage(c.answer), c.page) << c.answer;
    }
}

} // namespace
