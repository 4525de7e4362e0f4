#include "UpdaterFixture.h"
#include "testsupport/CaseName.h"

#include <filesystem>

// The decision itself is a table of its own (UpdateDecisionTest); here the
// check as the window makes it, over HTTP.
TEST_F(UpdaterFixture, InstalledVersionAgainstTheAnswerDecides) {
    writeVersionedExecutable(install / "morvane.exe", "1.2.0.5");
    serve({"1.2.5", "\xEF\xBB\xBF"
                    "1.2.6"});
    form->ReadInstalledVersion();
    EXPECT_EQ(form->GetUpdateStatus(), "NO_UPDATE");
    EXPECT_EQ(form->GetUpdateStatus(), "UPDATE_AVAILABLE");
}

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
