#include "tests/app/UpdaterFixture.h"
#include "tests/support/CaseName.h"

#include <filesystem>

struct VersionCase {
    const char* name;
    std::string installed; // empty: no morvane.exe
    std::string answer;
    std::string status;
};

class VersionDecision : public UpdaterFixture, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionDecision, ComparesFirstSecondAndFourthPartsNumerically) {
    const VersionCase& c = GetParam();
    if (!c.installed.empty()) {
        writeVersionedExecutable(install / "morvane.exe", c.installed);
    }
    serve({c.answer});
    form->ReadInstalledVersion();
    EXPECT_EQ(form->GetUpdateStatus(), c.status);
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

TEST_F(UpdaterFixture, RequestIsAPlainGetWithTheFixedUserAgent) {
    serve({"1.0.0"});
    form->GetUpdateStatus();
    // Two pauses of 5000 pumps each around the request.
    EXPECT_EQ(ui.pumps(), 10000);
    const auto requests = receivedRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/clientfiles/morvane/version.php");
    EXPECT_EQ(requests[0].headers.count("User-Agent"), 1u);
    EXPECT_EQ(requests[0].headers.find("User-Agent")->second,
              "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
    EXPECT_EQ(requests[0].headers.count("Cookie"), 0u);
    EXPECT_EQ(requests[0].headers.count("Authorization"), 0u);
    EXPECT_TRUE(requests[0].body.empty());
}

TEST_F(UpdaterFixture, HugeAnswerIsReadOnlyToItsCap) {
    serve({"2.0.0" + std::string(10 * 1024 * 1024, '7')});
    form->ReadInstalledVersion();
    EXPECT_EQ(form->GetUpdateStatus(), "UPDATE_AVAILABLE");
}

TEST_F(UpdaterFixture, ExecutableWithoutVersionKeepsEarlierFields) {
    writeVersionedExecutable(install / "morvane.exe", "1.2.0.5");
    form->ReadInstalledVersion();
    // The same run's fields stay when the next read finds no version.
    testsupport::writeFile(install / "morvane.exe", "not an executable");
    form->ReadInstalledVersion();
    serve({"1.2.5"});
    EXPECT_EQ(form->GetUpdateStatus(), "NO_UPDATE");
}

TEST_F(UpdaterFixture, RefusedConnectionGivesNa) {
    makeWindow("127.0.0.1:" + std::to_string(testsupport::refusedPort()));
    EXPECT_EQ(form->GetUpdateStatus(), "NA");
}
