#include "fixtures/EndToEndFixture.h"

#include <sys/stat.h>

using platform::MsgBoxAnswer;
using testsupport::buildEncryptedPackage;
using testsupport::buildPackage;
using testsupport::exists;
using testsupport::readFile;

namespace {

const std::string instructions = "MOVE;morvane.exe;APP_PATH\r\n"
                                 "MAKEDIR;plugins;app_path\r\n"
                                 "MOVE;Viewer.so;APP_PATH\\PLUGINS\r\n";

bool isFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

TEST_F(EndToEndFixture, UpdateReplacesTheApplicationAndEnds) {
    buildPackage(staging / "package.zip", {{"updater.ini", instructions},
                                           {"bin/morvane.exe", newExecutable()},
                                           {"plugins/Viewer.so", "viewer plugin"}});
    ui.answerNext(MsgBoxAnswer::yes);

    EXPECT_TRUE(runUpdate());

    EXPECT_EQ(installedVersion(), "1.3.0.0");
    EXPECT_EQ(readFile(app("plugins/Viewer.so")), "viewer plugin");
    EXPECT_FALSE(exists(app("temp")));
    EXPECT_FALSE(exists(app("NoteError.txt")));
    EXPECT_EQ(ui.messageBoxes().size(), 1u); // only the offer
    EXPECT_EQ(ui.captions().back(), "Update Success, Please restart application");
    EXPECT_EQ(ui.barValues().back(), 100.0f);
}

TEST_F(EndToEndFixture, EncryptedPackageAsksForThePassword) {
    buildEncryptedPackage(staging / "package.zip",
                          {{"updater.ini", instructions},
                           {"morvane.exe", newExecutable()},
                           {"Viewer.so", "viewer plugin"}},
                          "s3cret");
    ui.answerNext(MsgBoxAnswer::yes);
    ui.answerNextInput("s3cret");
    ui.answerNextInput("s3cret");
    ui.answerNextInput("s3cret");

    EXPECT_TRUE(runUpdate());

    EXPECT_GE(ui.inputBoxes().size(), 1u);
    EXPECT_EQ(ui.inputBoxes()[0].prompt, "Please Enter The Password!");
    EXPECT_EQ(installedVersion(), "1.3.0.0");
    EXPECT_FALSE(exists(app("NoteError.txt")));
}

// An error page served as the package: the library's box, one line for the
// administrator, and the window stays open with nothing installed.
TEST_F(EndToEndFixture, ErrorPageInsteadOfAPackageChangesNothingInstalled) {
    testsupport::writeFile(staging / "package.zip", "<html><body>Not Found</body></html>");
    publisher.setPackageStatus(404);
    ui.answerNext(MsgBoxAnswer::yes);

    EXPECT_FALSE(runUpdate());

    EXPECT_EQ(installedVersion(), "1.2.0.5");
    ASSERT_EQ(ui.messageBoxes().size(), 2u);
    EXPECT_EQ(ui.messageBoxes()[1].style, 0); // the library's messages
    EXPECT_FALSE(ui.messageBoxes()[1].prompt.empty());
    const std::string written = log();
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1) << written;
    EXPECT_NE(written.find("\"Updater the package could not be unpacked: "), std::string::npos)
        << written;
    EXPECT_NE(ui.captions().back(), "Update Success, Please restart application");
    EXPECT_TRUE(ui.cmdDownload().isEnabled());
    EXPECT_TRUE(exists(app("temp/morvane.zip")));
}

TEST_F(EndToEndFixture, ExitDuringTheDownloadKeepsWhatArrivedAndTouchesNothing) {
    std::string big;
    for (int i = 0; big.size() < 300 * 1024; ++i) {
        big += std::to_string(i * 7919) + "\n";
    }
    // Large enough for many chunks, so the exit comes in the middle.
    buildPackage(staging / "package.zip", {{"updater.ini", instructions}, {"big.bin", big}});
    const std::string package = readFile(staging / "package.zip");
    ui.answerNext(MsgBoxAnswer::yes); // the offer
    ui.answerNext(MsgBoxAnswer::yes); // the exit question
    ui.atEveryPump([&] {
        if (ui.barValues().size() == 20) {
            ui.atEveryPump(nullptr);
            form->cmdCancel_Click();
        }
    });

    EXPECT_TRUE(runUpdate());

    const std::string received = readFile(app("temp/morvane.zip"));
    EXPECT_GT(received.size(), 0u);
    EXPECT_LT(received.size(), package.size());
    EXPECT_EQ(received, package.substr(0, received.size()));
    EXPECT_EQ(installedVersion(), "1.2.0.5");
    EXPECT_FALSE(exists(app("NoteError.txt")));
}

// An instruction file that stops part way leaves the installation as it
// was: what its earlier lines did is undone before the failure is shown,
// and the update is offered again at the next check.
TEST_F(EndToEndFixture, InstructionFailingHalfWayUndoesEarlierLinesAndIsOfferedAgain) {
    buildPackage(staging / "package.zip",
                 {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\nMAKEDIR;first;APP_PATH\r\n"
                                  "MOVE;Viewer.so;APP_PATH\\PLUGINS\r\n"},
                  {"morvane.exe", newExecutable()},
                  {"Viewer.so", "viewer plugin"}});
    const std::string old = readFile(app("morvane.exe"));
    ui.answerNext(MsgBoxAnswer::yes);

    EXPECT_FALSE(runUpdate()); // no plugins folder

    EXPECT_EQ(readFile(app("morvane.exe")), old);
    EXPECT_FALSE(isFolder(app("first")));
    EXPECT_FALSE(exists(app(".updater-journal")));
    const std::string written = log();
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2) << written;
    EXPECT_NE(written.find("\"Updater Path not found"), std::string::npos) << written;
    EXPECT_NE(written.find("\"Updater the installation was restored as it was: 1 file restored, "
                           "0 added files and 1 added folder removed\""),
              std::string::npos)
        << written;
    // The run stops there: no success, the temp folder kept for a look.
    EXPECT_NE(ui.captions().back(), "Update Success, Please restart application");
    EXPECT_TRUE(ui.cmdDownload().isEnabled());
    EXPECT_TRUE(exists(app("temp/updater.ini")));

    testsupport::TempDir::makeFolder(app("plugins"));
    ui.answerNext(MsgBoxAnswer::yes);
    bool ended = false;
    try {
        form->cmdDownload_Click();
    } catch (const platform::ProgramEnded&) {
        ended = true;
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(ui.messageBoxes()[2].prompt, "New version found, Do you want to update");
    EXPECT_EQ(installedVersion(), "1.3.0.0");
    EXPECT_TRUE(isFolder(app("first")));
    EXPECT_EQ(readFile(app("plugins/Viewer.so")), "viewer plugin");
    EXPECT_FALSE(exists(app("temp")));
    EXPECT_FALSE(exists(app(".updater-journal")));
}
