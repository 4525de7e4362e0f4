// Whether the offered version is newer: the installed file version's first,
// second and fourth part against the answer's three pieces, by what they
// are worth.
#include "app/UpdateDecision.h"
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

INSTANTIATE_TEST_SUITE_P(
    Examples, VersionDecision,
    ::testing::Values(
        VersionCase{"SameVersion", "1.2.0.5", "1.2.5", "NO_UPDATE"},
        VersionCase{"NewerFourth", "1.2.0.5", "1.2.6", "UPDATE_AVAILABLE"},
        VersionCase{"NewerSecond", "1.2.0.5", "1.3.0", "UPDATE_AVAILABLE"},
        VersionCase{"NewerFirst", "1.2.0.5", "2.0.0", "UPDATE_AVAILABLE"},
        VersionCase{"SmallerFirstGreaterSecond", "2.0.0.0", "1.5.0", "UPDATE_AVAILABLE"},
        VersionCase{"ThirdPieceMeetsFourthPart", "1.2.3.4", "1.2.9", "UPDATE_AVAILABLE"},
        VersionCase{"ThirdPartIsNotCompared", "1.2.9.4", "1.2.5", "UPDATE_AVAILABLE"},
        VersionCase{"NumericNotAlphabetical", "1.9.0.0", "1.10.0", "UPDATE_AVAILABLE"},
        VersionCase{"TrailingLineEnd", "1.2.0.5", "1.2.5\r\n", "NO_UPDATE"},
        VersionCase{"EmptyAnswer", "1.2.0.5", "", "NA"},
        VersionCase{"LeadingDot", "1.2.0.5", ".5.6", "NA"},
        VersionCase{"NoDotsFirstOnly", "1.2.0.5", "3", "UPDATE_AVAILABLE"},
        VersionCase{"NoDotsNotNewer", "1.2.0.5", "1", "NO_UPDATE"},
        VersionCase{"MissingExeZero", "", "0.0.0", "NO_UPDATE"},
        VersionCase{"MissingExeOne", "", "0.0.1", "UPDATE_AVAILABLE"},
        VersionCase{"ErrorPageTextCountsAsZero", "1.2.0.5", "<html>gone</html>", "NO_UPDATE"},
        // A byte order mark is no part of the version it stands before.
        VersionCase{"ByteOrderMarkBeforeNewerFirst", "1.2.0.5",
                    "\xEF\xBB\xBF"
                    "2.0.0",
                    "UPDATE_AVAILABLE"},
        VersionCase{"ByteOrderMarkBeforeSame", "1.2.0.5",
                    "\xEF\xBB\xBF"
                    "1.2.5",
                    "NO_UPDATE"},
        VersionCase{"ByteOrderMarkAlone", "1.2.0.5", "\xEF\xBB\xBF", "NA"}),
    testsupport::CaseName());

} // namespace
