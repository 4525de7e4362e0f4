#include "app/frmUpdater.h"
#include "platform/FileSystem.h"
#include "platform/qt/QtToolkit.h"
#include "platform/qt/QtUpdaterWindow.h"
#include "tests/qt/QtTestSupport.h"
#include "tests/support/LoopbackPublisher.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/VersionedExecutable.h"
#include "unzip/CodeModuleState.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <gtest/gtest.h>

// The whole update through the real window, in a child process so that the
// end of the program can be seen from outside.
TEST(QtEndToEndDeathTest, UpdateThroughTheRealWindowEndsTheProgramWithStatusZero) {
    testsupport::TempDir root;
    testsupport::TempDir staging;
    const std::string install = root / "Morvane";
    testsupport::TempDir::makeFolder(install);
    testsupport::writeVersionedExecutable(install + "/morvane.exe", "1.2.0.5");
    testsupport::writeVersionedExecutable(staging / "morvane.exe", "1.3.0.0");
    testsupport::buildPackage(staging / "package.zip",
                              {{"updater.ini", "MOVE;morvane.exe;APP_PATH\r\n"},
                               {"morvane.exe", testsupport::readFile(staging / "morvane.exe")}});
    testsupport::LoopbackPublisher publisher("1.3.0", staging / "package.zip");
    CodeModule::setLibraryFolder(REAL_UNZIP32_FOLDER);

    EXPECT_EXIT(
        {
            platform::QtToolkit toolkit;
            platform::QtUpdaterWindow window;
            frmUpdater form(toolkit, window,
                            UpdaterSettings{install, publisher.host(), publisher.host()});
            window.attach(form);
            // The user answers Yes to the offer.
            qttest::ModalResponder<QMessageBox> offer(
                [](QMessageBox& box) { box.button(QMessageBox::Yes)->click(); });
            form.Form_Load();
            window.showCentred();
            QApplication::exec();
            std::_Exit(3); // the update run ends the program itself
        },
        ::testing::ExitedWithCode(0), "");

    EXPECT_EQ(platform::FileSystem().GetFileVersion(install + "/morvane.exe"), "1.3.0.0");
    EXPECT_FALSE(testsupport::exists(install + "/temp"));
    EXPECT_FALSE(testsupport::exists(install + "/NoteError.txt"));
}
