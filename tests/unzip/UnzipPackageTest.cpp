#include "codemodule/CodeModuleState.h"
#include "platform/SystemServices.h"
#include "run/frmUpdater.h"
#include "testsupport/PackageBuilder.h"
#include "testsupport/ScriptedToolkit.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using updater::frmUpdater;
using updater::UpdaterSettings;

using testsupport::buildPackage;
using testsupport::exists;
using testsupport::readFile;

// The window's unpacking stage over the real unzip library.
class UnzipPackageTest : public ::testing::Test {
protected:
    UnzipPackageTest()
        : form(ui, ui, services, UpdaterSettings{install.path(), "v.invalid", "p.invalid", ""}) {
        mkdir((install / "temp").c_str(), 0755);
        CodeModule::setLibraryFolder(REAL_UNZIP32_FOLDER);
    }

    std::string temp(const std::string& name) const { return install / ("temp/" + name); }

    testsupport::TempDir install;
    platform::ScriptedToolkit ui;
    platform::SystemServices services;
    frmUpdater form;
};

TEST_F(UnzipPackageTest, FolderPathsAreDroppedAndNothingIsShownOnSuccess) {
    buildPackage(temp("morvane.zip"),
                 {{"folder/updater.ini", "MOVE;a.dll;APP_PATH"}, {"bin/a.dll", "dll"}});
    form.UnzipPackage("morvane.zip");
    EXPECT_EQ(readFile(temp("updater.ini")), "MOVE;a.dll;APP_PATH");
    EXPECT_EQ(readFile(temp("a.dll")), "dll");
    EXPECT_FALSE(exists(temp("folder")));
    EXPECT_TRUE(ui.messageBoxes().empty());
    EXPECT_FALSE(exists(install / "NoteError.txt"));
}

TEST_F(UnzipPackageTest, LaterEntryOfTheSameNameWinsWithoutAQuestion) {
    testsupport::writeFile(temp("a.txt"), "left from an earlier run");
    buildPackage(temp("morvane.zip"), {{"a.txt", "first"}, {"sub/a.txt", "second"}});
    form.UnzipPackage("morvane.zip");
    EXPECT_EQ(readFile(temp("a.txt")), "second");
    EXPECT_TRUE(ui.messageBoxes().empty());
}

TEST_F(UnzipPackageTest, PackageThatIsNoZipShowsTheLibrarysMessages) {
    testsupport::writeFile(temp("morvane.zip"), "<html><body>404 Not Found</body></html>");
    form.UnzipPackage("morvane.zip");
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    EXPECT_EQ(ui.messageBoxes()[0].style, 0);
    EXPECT_EQ(ui.messageBoxes()[0].title, "");
    EXPECT_FALSE(ui.messageBoxes()[0].prompt.empty());
    EXPECT_NE(ui.messageBoxes()[0].prompt.find("morvane.zip"), std::string::npos)
        << ui.messageBoxes()[0].prompt;
    EXPECT_FALSE(exists(install / "NoteError.txt"));
}

TEST_F(UnzipPackageTest, MissingLibraryIsShownWithNumberAndPlace) {
    testsupport::TempDir empty;
    CodeModule::setLibraryFolder(empty.path());
    buildPackage(temp("morvane.zip"), {{"a.txt", "a"}});
    EXPECT_NO_THROW(form.UnzipPackage("morvane.zip"));
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    EXPECT_EQ(ui.messageBoxes()[0].prompt.rfind("53 Form1::cmdUnZip_Click File not found", 0), 0u)
        << ui.messageBoxes()[0].prompt;
    EXPECT_EQ(ui.messageBoxes()[0].style, 0);
}
