#include "UpdaterFixture.h"
#include "testsupport/CaseName.h"

#include "platform/Error.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

using updater::frmUpdater;
using updater::UpdaterSettings;

using platform::MsgBoxAnswer;
using platform::RecordedMessageBox;

namespace {

const std::string latest = "You are using the latest version of Morvane";
const std::string offer = "New version found, Do you want to update";
const std::string notCompleted = "The update did not complete";
const std::string unreachable = "Unable to reach server, Please check your internet connection and "
                                "make sure that packages.morvane.example is accessible";

} // namespace

struct DecisionCase {
    const char* name;
    std::vector<std::string> answers;
    std::size_t expectedRequests;
    std::string expectedBox;
};

class UpdateRunDecision : public UpdaterFixture,
                          public ::testing::WithParamInterface<DecisionCase> {};

TEST_P(UpdateRunDecision, OnlyTheSecondAnswerDecidesWhenTheFirstOffersNothing) {
    const DecisionCase& c = GetParam();
    writeVersionedExecutable(install / "morvane.exe", "1.2.0.5");
    serve(c.answers);
    ui.answerNext(MsgBoxAnswer::no); // used only when the update is offered

    const bool ended = activate();

    EXPECT_EQ(versionRequests(), c.expectedRequests);
    ASSERT_FALSE(ui.messageBoxes().empty());
    // The design's text; an empty answer is named after it.
    EXPECT_EQ(ui.messageBoxes().front().prompt.substr(0, c.expectedBox.size()), c.expectedBox);
    if (c.expectedBox == offer) {
        EXPECT_EQ(ui.messageBoxes().front().style, 68);
        EXPECT_TRUE(ended);
        EXPECT_FALSE(testsupport::exists(install / "temp"));
    } else {
        EXPECT_EQ(ui.messageBoxes().front().style, 64);
        EXPECT_FALSE(ended);
        EXPECT_TRUE(ui.cmdDownload().isEnabled());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UpdateRunDecision,
    ::testing::Values(DecisionCase{"FirstOffers", {"1.3.0"}, 1, offer},
                      DecisionCase{"TwiceCurrent", {"1.2.5", "1.2.5"}, 2, latest},
                      DecisionCase{"CurrentThenNewer", {"1.2.5", "1.3.0"}, 2, latest},
                      DecisionCase{"EmptyThenCurrent", {"", "1.2.5"}, 2, latest},
                      DecisionCase{"CurrentThenEmpty", {"1.2.5", ""}, 2, unreachable},
                      DecisionCase{"TwiceEmpty", {"", ""}, 2, unreachable}),
    testsupport::CaseName());

TEST_F(UpdaterFixture, LatestVersionShowsTheTextInTheStatusLineToo) {
    writeVersionedExecutable(install / "morvane.exe", "1.2.0.5");
    serve({"1.2.5", "1.2.5"});
    activate();
    EXPECT_EQ(ui.lblMessage().caption(), latest);
    EXPECT_EQ(ui.messageBoxes().back().title, ""); // the application title
    EXPECT_EQ(ui.appTitle(), "Morvane Updater");
}

TEST_F(UpdaterFixture, UnreachableServerLeavesTheStatusLineEmpty) {
    makeWindow("127.0.0.1:" + std::to_string(testsupport::refusedPort()));
    EXPECT_FALSE(activate());
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    // The design's text, then what stood in the way.
    EXPECT_EQ(ui.messageBoxes()[0].prompt.rfind(unreachable + "\r\nThe version request failed", 0),
              0u)
        << ui.messageBoxes()[0].prompt;
    EXPECT_EQ(form->lastRun().network, platform::NetworkFailureKind::refused);
    EXPECT_EQ(ui.lblMessage().caption(), "");
    EXPECT_TRUE(ui.captions().empty());
    EXPECT_TRUE(ui.cmdDownload().isEnabled());
}

TEST_F(UpdaterFixture, ActivationStartsTheRunOnlyOnce) {
    serve({"0.0.0", "0.0.0"});
    activate();
    activate();
    EXPECT_EQ(versionRequests(), 2u);
}

namespace {

const std::string successText = "Update Success, Please restart application";
const std::vector<testsupport::PackageEntry> makesAFolder = {
    {"updater.ini", "MAKEDIR;plugins;APP_PATH\r\n"}};

} // namespace

TEST_F(UpdaterFixture, SuccessfulRunCallsTheStagesInOrderAndRemovesTheTempFolder) {
    servePackage(makesAFolder);
    serve({"9.0.0"});
    ASSERT_EQ(mkdir((install / "temp").c_str(), 0755), 0);
    testsupport::writeFile(install / "temp/leftover.txt", "from an earlier run");
    ui.answerNext(MsgBoxAnswer::yes);
    // What the window shows while each stage runs, seen at its pumps.
    std::vector<std::string> duringDownload;
    ui.atEveryPump([&] {
        if (ui.lblMessage().caption() == "Downloading..." && duringDownload.empty()) {
            duringDownload.push_back(ui.ProgressBar1().isVisible() ? "bar" : "no bar");
            duringDownload.push_back("pointer " + std::to_string(ui.mousePointer()));
            // An earlier run's files are gone before the new package arrives.
            duringDownload.push_back(testsupport::exists(install / "temp/leftover.txt") ? "leftover"
                                                                                        : "clean");
        }
    });

    EXPECT_TRUE(activate());

    EXPECT_EQ(duringDownload, (std::vector<std::string>{"bar", "pointer 11", "clean"}));
    EXPECT_EQ(ui.captions(), (std::vector<std::string>{"Downloading...", "Extracting Files",
                                                       "Procesing Updates", successText}));
    EXPECT_TRUE(testsupport::exists(install / "plugins"));
    EXPECT_FALSE(testsupport::exists(install / "temp"));
    EXPECT_EQ(ui.messageBoxes().size(), 1u); // the offer; no box at success
    EXPECT_FALSE(testsupport::exists(install / "NoteError.txt"));
}

TEST_F(UpdaterFixture, FailureInTheDownloadIsLoggedAndLeavesTheWindowAsItWas) {
    makeWindow(versionHost(), "127.0.0.1:" + std::to_string(testsupport::refusedPort()));
    serve({"9.0.0"});
    ui.answerNext(MsgBoxAnswer::yes);

    EXPECT_FALSE(activate());

    EXPECT_EQ(ui.mousePointer(), 11);
    EXPECT_TRUE(ui.ProgressBar1().isVisible());
    EXPECT_TRUE(ui.cmdDownload().isEnabled());
    EXPECT_EQ(ui.captions(), (std::vector<std::string>{"Downloading...", notCompleted}));
    const std::string written = log();
    EXPECT_EQ(written.rfind("\"07/Dec/2026\",\"Updater: Download ", 0), 0u) << written;
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1);
    ASSERT_EQ(ui.messageBoxes().size(), 2u);
    EXPECT_EQ(ui.messageBoxes()[1].title, "Updater: Download");
    EXPECT_EQ(ui.messageBoxes()[1].prompt.rfind("Error Contact Administrator.\r\n", 0), 0u);
}

TEST_F(UpdaterFixture, ReadOnlyFileInTheTempFolderKeepsTheWindowOpenWithTheSuccessText) {
    servePackage(makesAFolder);
    serve({"9.0.0"});
    ui.answerNext(MsgBoxAnswer::yes);
    ui.atEveryPump([&] {
        if (ui.lblMessage().caption() == "Procesing Updates" &&
            !testsupport::exists(install / "temp/locked.dll")) {
            testsupport::writeFile(install / "temp/locked.dll", "x");
            chmod((install / "temp/locked.dll").c_str(), 0444);
        }
    });

    EXPECT_FALSE(activate());

    EXPECT_EQ(ui.lblMessage().caption(), successText);
    EXPECT_TRUE(testsupport::exists(install / "temp/locked.dll"));
    EXPECT_TRUE(ui.cmdDownload().isEnabled());
    EXPECT_NE(log().find("Updater: Download Permission denied"), std::string::npos);
}

// A stage that reported its own failure stops the run: nothing after it
// runs, nothing claims success, and the window is ready for another try.
TEST_F(UpdaterFixture, FailedStagesStopTheRunWithTheWindowOpen) {
    struct Case {
        const char* name;
        std::vector<testsupport::PackageEntry> package;
        std::string lastCaption;
        std::string logged;
    };
    const Case cases[] = {
        // The instruction file's missing folder is never made: nothing ran.
        {"no instruction file",
         {{"plugins.txt", "MAKEDIR;plugins;APP_PATH\r\n"}},
         notCompleted,
         "\"Updater File not found"},
        {"failing line",
         {{"updater.ini", "MOVE;missing.dll;APP_PATH\r\nMAKEDIR;plugins;APP_PATH\r\n"}},
         notCompleted,
         "\"Updater File not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(install / "NoteError.txt");
        servePackage(c.package);
        serve({"9.0.0"});
        ui.answerNext(MsgBoxAnswer::yes);

        EXPECT_FALSE(activate());

        EXPECT_EQ(ui.lblMessage().caption(), c.lastCaption);
        EXPECT_FALSE(testsupport::exists(install / "plugins"));
        EXPECT_TRUE(testsupport::exists(install / "temp"));
        EXPECT_TRUE(ui.cmdDownload().isEnabled());
        EXPECT_EQ(ui.mousePointer(), 0);
        const std::string written = log();
        EXPECT_NE(written.find(c.logged), std::string::npos) << written;
        EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1) << written;
    }
}

TEST_F(UpdaterFixture, TempFolderThatIsALinkIsRefusedAndNotFollowed) {
    servePackage(makesAFolder);
    testsupport::TempDir elsewhere;
    testsupport::writeFile(elsewhere / "keep.txt", "keep");
    ASSERT_EQ(symlink(elsewhere.path().c_str(), (install / "temp").c_str()), 0);
    serve({"9.0.0"});
    ui.answerNext(MsgBoxAnswer::yes);

    EXPECT_FALSE(activate());

    EXPECT_EQ(ui.captions(), std::vector<std::string>{notCompleted});
    EXPECT_EQ(testsupport::readFile(elsewhere / "keep.txt"), "keep");
    EXPECT_NE(log().find("Updater: Download Permission denied: " + install.path() +
                         "/temp is a symbolic link"),
              std::string::npos)
        << log();
}

// A second window on the same installation starts while the first is
// downloading: it says so at once, through the normal failure path, without
// reading the half-installed version or asking the server, and leaves the
// installation to the first, which completes.
TEST_F(UpdaterFixture, SecondRunOnTheSameInstallationSaysSoAtOnce) {
    servePackage(makesAFolder);
    serve({"9.0.0"});
    ui.answerNext(MsgBoxAnswer::yes);
    platform::ScriptedToolkit secondUi;
    frmUpdater second(secondUi, secondUi, services,
                      UpdaterSettings{install.path(), versionHost(), versionHost(), ""});
    second.Form_Load();
    bool secondRan = false;
    std::size_t requestsBefore = 0;
    std::size_t requestsAfter = 0;
    ui.atEveryPump([&] {
        if (ui.lblMessage().caption() == "Downloading..." && !secondRan) {
            secondRan = true;
            requestsBefore = receivedRequests().size();
            EXPECT_NO_THROW(second.Form_Activate());
            requestsAfter = receivedRequests().size();
        }
    });

    EXPECT_TRUE(activate());

    EXPECT_TRUE(secondUi.captions().empty());
    EXPECT_TRUE(secondUi.cmdDownload().isEnabled());
    EXPECT_EQ(requestsAfter, requestsBefore);
    // No failure to report to an administrator: an information box under
    // the application's title, and a log line under its own label.
    ASSERT_EQ(secondUi.messageBoxes().size(), 1u);
    EXPECT_EQ(secondUi.messageBoxes()[0].title, "");
    EXPECT_EQ(secondUi.messageBoxes()[0].style,
              platform::MsgBoxStyle::okOnly + platform::MsgBoxStyle::information);
    EXPECT_EQ(secondUi.messageBoxes()[0].prompt.find("Error Contact Administrator"),
              std::string::npos);
    EXPECT_NE(log().find(",\"Updater: Busy "), std::string::npos) << log();
    EXPECT_TRUE(testsupport::exists(install / "plugins"));
}

TEST_F(UpdaterFixture, ExitWhileIdleEndsWithoutAQuestion) {
    EXPECT_THROW(form->cmdCancel_Click(), platform::ProgramEnded);
    EXPECT_TRUE(ui.messageBoxes().empty());
}

struct ExitCase {
    const char* name;
    int answer;
    bool ends;
};

class ExitDuringRun : public UpdaterFixture, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ExitDuringRun, AsksAndOnlyYesEnds) {
    servePackage(makesAFolder);
    serve({"9.0.0"});
    ui.answerNext(GetParam().answer); // the exit question comes first
    ui.answerNext(MsgBoxAnswer::yes); // then the offer, if the run goes on
    // The first pause of the version check: the user clicks "&Exit".
    ui.atPump(100, [&] { form->cmdCancel_Click(); });

    const bool ended = activate();

    ASSERT_GE(ui.messageBoxes().size(), 1u);
    EXPECT_EQ(ui.messageBoxes()[0].prompt, "Update in progress,Do you want to stop and exit");
    EXPECT_EQ(ui.messageBoxes()[0].style, 52);
    EXPECT_TRUE(ended);
    if (GetParam().ends) {
        EXPECT_TRUE(ui.captions().empty());
        EXPECT_EQ(versionRequests(), 0u);
    } else {
        EXPECT_EQ(ui.captions().back(), successText); // the run went on to its end
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, ExitDuringRun,
                         ::testing::Values(ExitCase{"Yes", MsgBoxAnswer::yes, true},
                                           ExitCase{"No", MsgBoxAnswer::no, false}),
                         testsupport::CaseName());

TEST_F(UpdaterFixture, CloseBoxDuringARunEndsAtOnce) {
    serve({"9.0.0"});
    ui.atPump(10, [&] { form->Form_Close(); });
    EXPECT_TRUE(activate());
    EXPECT_TRUE(ui.messageBoxes().empty());
}

// An archive of many refused entries: the box shows the first 50 of the
// library's lines and how many more the log has; one log record stays
// within its bound.
TEST_F(UpdaterFixture, AFloodOfRefusalsIsShownByItsFirstLines) {
    std::vector<testsupport::PackageEntry> entries{{"updater.ini", "MAKEDIR;a;APP_PATH\r\n"}};
    for (int i = 0; i < 300; ++i) {
        entries.push_back({"../escape" + std::to_string(i) + ".txt", "x"});
    }
    servePackage(entries);
    serve({"9.0.0"});
    ui.answerNext(MsgBoxAnswer::yes);

    EXPECT_FALSE(activate());

    ASSERT_EQ(ui.messageBoxes().size(), 2u);
    const std::string& shown = ui.messageBoxes()[1].prompt;
    EXPECT_LE(std::count(shown.begin(), shown.end(), '\n'), 50) << shown;
    EXPECT_NE(shown.find("\u2026 and "), std::string::npos) << shown;
    EXPECT_NE(shown.find(" more (see NoteError.txt)"), std::string::npos) << shown;
    EXPECT_NE(log().find("escape299"), std::string::npos);
}
