#pragma once

#include "app/frmUpdater.h"
#include "codemodule/CodeModuleState.h"
#include "platform/SystemServices.h"
#include "platform/files/DiskFileSystem.h"
#include "tests/fixtures/Activation.h"
#include "tests/support/LoopbackPublisher.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/ScriptedToolkit.h"
#include "tests/support/TempDir.h"
#include "tests/support/VersionedExecutable.h"

#include <gtest/gtest.h>

// A real installation folder with morvane.exe 1.2.0.5, a publisher on
// loopback that offers 1.3.0 and serves the package file of the test, the
// real unzip library, and the window over the scripted toolkit.
class EndToEndFixture : public ::testing::Test {
protected:
    EndToEndFixture() : install(root / "Morvane") {
        testsupport::TempDir::makeFolder(install);
        testsupport::writeVersionedExecutable(app("morvane.exe"), "1.2.0.5");
        testsupport::writeVersionedExecutable(staging / "morvane.exe", "1.3.0.0");
        CodeModule::setLibraryFolder(REAL_UNZIP32_FOLDER);
        form = std::make_unique<updater::frmUpdater>(
            ui, ui, services,
            updater::UpdaterSettings{install, publisher.host(), publisher.host(), ""});
        form->Form_Load();
    }

    std::string app(const std::string& name) const { return install + "/" + name; }
    std::string newExecutable() const { return testsupport::readFile(staging / "morvane.exe"); }

    // Runs the window until the program ends or the run returns.
    bool runUpdate() { return activateUntilEnd(*form); }

    std::string installedVersion() const {
        return platform::DiskFileSystem().GetFileVersion(app("morvane.exe"));
    }

    std::string log() const { return testsupport::readFile(app("NoteError.txt")); }

    testsupport::TempDir root;
    testsupport::TempDir staging;
    std::string install;
    testsupport::LoopbackPublisher publisher{"1.3.0\r\n", staging / "package.zip"};
    platform::ScriptedToolkit ui;
    platform::SystemServices services;
    std::unique_ptr<updater::frmUpdater> form;
};
