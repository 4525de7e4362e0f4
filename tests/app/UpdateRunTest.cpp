#include "tests/app/UpdaterFixture.h"
#include "tests/support/CaseName.h"

#include "platform/Error.h"

#include <filesystem>
#include <sys/stat.h>

using platform::MsgBoxAnswer;
using platform::RecordedMessageBox;

namespace {

const std::string latest = "You are using the latest version of Morvane";
const std::string offer = "New version found, Do you want to update";
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
    EXPECT_EQ(ui.messageBoxes().front().prompt, c.expectedBox);
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
    EXPECT_EQ(ui.messageBoxes()[0].prompt, unreachable);
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

TEST_F(UpdaterFixture, SuccessfulRunCallsTheStagesInOrderAndRemovesTheTempFolder) {
    serve({"9.0.0"});
    ASSERT_EQ(mkdir((install / "temp").c_str(), 0755), 0);
    testsupport::writeFile(install / "temp/leftover.txt", "from an earlier run");
    ui.answerNext(MsgBoxAnswer::yes);
    form->onDownload = [&](const std::string&, const std::string&) {
        EXPECT_EQ(ui.lblMessage().caption(), "Downloading...");
        EXPECT_TRUE(ui.ProgressBar1().isVisible());
        EXPECT_EQ(ui.mousePointer(), 11);
        // An earlier run's files are gone before the new package arrives.
        EXPECT_TRUE(testsupport::exists(install / "temp"));
        EXPECT_FALSE(testsupport::exists(install / "temp/leftover.txt"));
    };
    form->onUnzip = [&](const std::string&) {
        EXPECT_EQ(ui.lblMessage().caption(), "Extracting Files");
        EXPECT_FALSE(ui.ProgressBar1().isVisible());
        EXPECT_EQ(ui.mousePointer(), 0);
    };
    form->onExtract = [&] { EXPECT_EQ(ui.lblMessage().caption(), "Procesing Updates"); };

    EXPECT_TRUE(activate());

    const std::vector<std::string> expectedStages = {
        "download http://packages.morvane.example/clientfiles/morvane/morvane.zip -> " +
            install.path() + "/temp/morvane.zip",
        "unzip morvane.zip", "extract"};
    EXPECT_EQ(form->stages, expectedStages);
    EXPECT_EQ(ui.captions().back(), "Update Success, Please restart application");
    EXPECT_FALSE(testsupport::exists(install / "temp"));
    EXPECT_EQ(ui.messageBoxes().size(), 1u); // the offer; no box at success
    EXPECT_FALSE(testsupport::exists(install / "NoteError.txt"));
}

TEST_F(UpdaterFixture, FailureInTheDownloadIsLoggedAndLeavesTheWindowAsItWas) {
    serve({"9.0.0"});
    ui.answerNext(MsgBoxAnswer::yes);
    form->onDownload = [](const std::string&, const std::string&) {
        platform::raiseError(platform::ErrorNumber::permissionDenied, "test");
    };

    EXPECT_FALSE(activate());

    EXPECT_EQ(ui.mousePointer(), 11);
    EXPECT_TRUE(ui.ProgressBar1().isVisible());
    EXPECT_TRUE(ui.cmdDownload().isEnabled());
    EXPECT_EQ(ui.lblMessage().caption(), "Downloading...");
    EXPECT_EQ(log(), "\"07/Dec/2026\",\"Updater: Download Permission denied\"\r\n");
    ASSERT_EQ(ui.messageBoxes().size(), 2u);
    EXPECT_EQ(ui.messageBoxes()[1].title, "Updater: Download");
    EXPECT_EQ(ui.messageBoxes()[1].prompt, "Error Contact Administrator.\r\nPermission denied");
    EXPECT_EQ(form->stages.size(), 1u);
}

TEST_F(UpdaterFixture, ReadOnlyFileInTheTempFolderKeepsTheWindowOpenWithTheSuccessText) {
    serve({"9.0.0"});
    ui.answerNext(MsgBoxAnswer::yes);
    form->onExtract = [&] {
        testsupport::writeFile(install / "temp/locked.dll", "x");
        chmod((install / "temp/locked.dll").c_str(), 0444);
    };

    EXPECT_FALSE(activate());

    EXPECT_EQ(ui.lblMessage().caption(), "Update Success, Please restart application");
    EXPECT_TRUE(testsupport::exists(install / "temp/locked.dll"));
    EXPECT_TRUE(ui.cmdDownload().isEnabled());
    EXPECT_NE(log().find("Updater: Download Permission denied"), std::string::npos);
}

// A stage that reported its own failure stops the run: nothing after it
// runs, nothing claims success, and the window is ready for another try.
TEST_F(UpdaterFixture, FailedStagesStopTheRunWithTheWindowOpen) {
    struct Case {
        const char* name;
        bool unzipFails;
        std::string lastStage;
        std::string log;
    };
    const Case cases[] = {
        {"unpacking", true, "unzip morvane.zip",
         "\"07/Dec/2026\",\"Updater the package could not be unpacked: no zip  at all\"\r\n"},
        {"instructions", false, "extract", ""},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(install / "NoteError.txt");
        makeWindow(versionHost());
        serve({"9.0.0"});
        ui.answerNext(MsgBoxAnswer::yes);
        if (c.unzipFails) {
            form->unzipFailure = "no zip\r\nat all";
        } else {
            form->extractSucceeds = false;
        }

        EXPECT_FALSE(activate()) << c.name;

        EXPECT_EQ(form->stages.back(), c.lastStage) << c.name;
        EXPECT_NE(ui.lblMessage().caption(), "Update Success, Please restart application");
        EXPECT_TRUE(testsupport::exists(install / "temp")) << c.name;
        EXPECT_TRUE(ui.cmdDownload().isEnabled()) << c.name;
        EXPECT_EQ(ui.mousePointer(), 0) << c.name;
        EXPECT_EQ(testsupport::exists(install / "NoteError.txt") ? log() : "", c.log) << c.name;
    }
}

TEST_F(UpdaterFixture, TempFolderThatIsALinkIsRefusedAndNotFollowed) {
    testsupport::TempDir elsewhere;
    testsupport::writeFile(elsewhere / "keep.txt", "keep");
    ASSERT_EQ(symlink(elsewhere.path().c_str(), (install / "temp").c_str()), 0);
    serve({"9.0.0"});
    ui.answerNext(MsgBoxAnswer::yes);

    EXPECT_FALSE(activate());

    EXPECT_EQ(form->stages.size(), 0u);
    EXPECT_EQ(testsupport::readFile(elsewhere / "keep.txt"), "keep");
    EXPECT_NE(log().find("Updater: Download Permission denied: " + install.path() +
                         "/temp is a symbolic link"),
              std::string::npos)
        << log();
}

// A second window on the same installation reaches its Yes while the first
// is downloading: it fails through the normal failure path and leaves the
// temp folder to the first, which completes.
TEST_F(UpdaterFixture, SecondRunOnTheSameInstallationFailsCleanly) {
    serve({"9.0.0"});
    ui.answerNext(MsgBoxAnswer::yes);
    platform::ScriptedToolkit secondUi;
    TestUpdater second(secondUi, secondUi,
                       UpdaterSettings{install.path(), versionHost(), "packages.morvane.example"});
    second.Form_Load();
    form->onDownload = [&](const std::string&, const std::string& destination) {
        testsupport::writeFile(destination, "first package");
        secondUi.answerNext(MsgBoxAnswer::yes);
        EXPECT_NO_THROW(second.Form_Activate());
    };

    EXPECT_TRUE(activate());

    EXPECT_TRUE(second.stages.empty());
    EXPECT_TRUE(secondUi.cmdDownload().isEnabled());
    ASSERT_EQ(secondUi.messageBoxes().size(), 2u);
    EXPECT_EQ(secondUi.messageBoxes()[1].title, "Updater: Download");
    EXPECT_NE(log().find("Updater: Download Another update of this installation is running"),
              std::string::npos)
        << log();
    EXPECT_EQ(form->stages.back(), "extract");
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
        EXPECT_TRUE(form->stages.empty());
        EXPECT_EQ(versionRequests(), 0u);
    } else {
        EXPECT_EQ(form->stages.size(), 3u); // the run went on to its end
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
