#include "UpdaterFixture.h"
#include "fixtures/WindowlessContext.h"
#include "testsupport/CaseName.h"
#include "testsupport/ScriptedWeb.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include "run/VersionCheck.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"
#include "testsupport/PublisherKey.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

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

// Built with the publisher's key, the window trusts only an answer with the
// publisher's signed release line, the answer of no update included; any
// other is the unreachable server's box, and the log says why.
struct KeyedAnswerCase {
    const char* name;
    std::string version;   // the version line
    std::string signedFor; // the release line's version; empty: no line
    std::int64_t validFor; // seconds from now
    std::string box;       // the first box's beginning
    std::string logged;    // a piece of the one log line; empty: no line
};

class KeyedVersionCheck : public UpdaterFixture,
                          public ::testing::WithParamInterface<KeyedAnswerCase> {};

TEST_P(KeyedVersionCheck, TrustsOnlyThePublishersSignedAnswer) {
    const KeyedAnswerCase& c = GetParam();
    const auto publisher = testsupport::makePublisherKey(staging / "publisher.pem");
    const auto key = signature::SigningKey::fromFile(publisher.privateKeyFile);
    std::string answer = c.version;
    if (!c.signedFor.empty()) {
        const auto line = signature::signRelease(c.signedFor, 1000, signature::PackageDigest{},
                                                 std::time(nullptr) + c.validFor, key);
        answer += "\r\n" + signature::formatReleaseLine(line);
    }
    writeVersionedExecutable(install / "morvane.exe", "1.2.0.5");
    makeWindow(versionHost(), "packages.morvane.example", publisher.publicKeyBase64);
    serve({answer});
    ui.answerNext(platform::MsgBoxAnswer::no); // used only when the update is offered

    activate();

    ASSERT_FALSE(ui.messageBoxes().empty());
    EXPECT_EQ(ui.messageBoxes().front().prompt.rfind(c.box, 0), 0u)
        << ui.messageBoxes().front().prompt;
    if (c.logged.empty()) {
        EXPECT_FALSE(testsupport::exists(install / "NoteError.txt"));
    } else {
        const std::string written = log();
        EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1) << written;
        EXPECT_NE(written.find("\"Updater: Version " + c.logged), std::string::npos) << written;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, KeyedVersionCheck,
    ::testing::Values(
        KeyedAnswerCase{"SignedOffer", "1.3.0", "1.3.0", 3600, "New version found", ""},
        KeyedAnswerCase{"SignedNoUpdate", "1.2.5", "1.2.5", 3600, "You are using the latest", ""},
        // The withholding attack: the installed version again, unsigned.
        KeyedAnswerCase{"UnsignedNoUpdate", "1.2.5", "", 0, "Unable to reach server",
                        "the version answer carries no signed release line"},
        KeyedAnswerCase{"Expired", "1.3.0", "1.3.0", -60, "Unable to reach server",
                        "the version answer expired at "},
        KeyedAnswerCase{"SignedForAnother", "1.3.1", "1.3.0", 3600, "Unable to reach server",
                        "the version answer offers \"1.3.1\", but its signed release line "
                        "names version 1.3.0"}),
    testsupport::CaseName());

// What stood between the check and the publisher: the unreachable server's
// box as ever, and the run's report and one log line saying what it was.
// A web page is never a version, whatever the build: a network's sign-in
// page answers a request before the publisher can.
TEST_F(UpdaterFixture, WhatStoodInTheWayIsReportedAndLogged) {
    using platform::NetworkFailureKind;
    const struct {
        const char* name;
        std::string answer; // empty: nobody listens
        std::optional<NetworkFailureKind> kind;
    } cases[] = {
        {"nobody listens", "", NetworkFailureKind::refused},
        {"sign-in page", "<html><body>Sign in to Hotel Wi-Fi</body></html>",
         NetworkFailureKind::signInPage},
        {"page after a mark and blank lines",
         "\xEF\xBB\xBF\r\n  <!DOCTYPE html><title>Login</title>", NetworkFailureKind::signInPage},
        {"a version", "1.2.5", std::nullopt},
    };
    writeVersionedExecutable(install / "morvane.exe", "1.2.0.5");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(install / "NoteError.txt");
        const std::size_t boxes = ui.messageBoxes().size();
        serve({c.answer, c.answer});
        form.reset();
        makeWindow(c.answer.empty() ? "127.0.0.1:" + std::to_string(testsupport::refusedPort())
                                    : versionHost());
        activate();
        EXPECT_EQ(form->lastRun().network, c.kind);
        if (c.kind) {
            ASSERT_GT(ui.messageBoxes().size(), boxes);
            EXPECT_EQ(ui.messageBoxes()[boxes].prompt.rfind("Unable to reach server", 0), 0u);
            const std::string written = log();
            EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1) << written;
        }
    }
}

// The check through its own face, the network a script: what answers count
// as no version, and what the check says stood in the way.
struct AnswerRuleCase {
    const char* name;
    std::optional<std::string> served; // nothing: no server answers
    std::string status;
    std::optional<platform::NetworkFailureKind> network;
};

class VersionAnswerRule : public ::testing::TestWithParam<AnswerRuleCase> {};

TEST_P(VersionAnswerRule, NoUsableAnswerIsNamed) {
    const AnswerRuleCase& c = GetParam();
    testsupport::TempDir install;
    testsupport::ScriptedWeb web;
    testsupport::ScriptedServices services{web};
    WindowlessContext context;
    const std::string address = "http://publisher.test/clientfiles/morvane/version.php";
    if (c.served) {
        web.serve(address, *c.served);
    } else {
        web.change = [](const testsupport::ScriptedRequest&, testsupport::ScriptedAnswer& answer) {
            answer = {};
            answer.failsAfter = 0;
        };
    }
    testsupport::writeVersionedExecutable(install / "morvane.exe", "1.2.0.5");
    updater::VersionCheck versions(services, context, install / "morvane.exe", address, {},
                                   install / "updater.trust", [] { return std::int64_t{0}; });
    versions.readInstalledVersion();
    EXPECT_EQ(versions.updateStatus(), c.status);
    EXPECT_EQ(versions.networkFailure(), c.network);
    // Every answer that is no version says why; a version says nothing.
    EXPECT_EQ(versions.refusal().empty(), c.status != "NA") << versions.refusal();
}

using Kind = platform::NetworkFailureKind;
INSTANTIATE_TEST_SUITE_P(
    Answers, VersionAnswerRule,
    ::testing::Values(AnswerRuleCase{"Newer", "1.2.6", "UPDATE_AVAILABLE", std::nullopt},
                      AnswerRuleCase{"Same", "1.2.5", "NO_UPDATE", std::nullopt},
                      AnswerRuleCase{"SignInPage", "<html><body>Sign in</body></html>", "NA",
                                     Kind::signInPage},
                      AnswerRuleCase{"PageAfterMarkAndBlanks", "\xEF\xBB\xBF \r\n<!DOCTYPE html>",
                                     "NA", Kind::signInPage},
                      AnswerRuleCase{"Empty", "", "NA", std::nullopt},
                      AnswerRuleCase{"NoServer", std::nullopt, "NA", Kind::refused}),
    testsupport::CaseName());
