#pragma once

#include "platform/Error.h"
#include "platform/SystemServices.h"
#include "run/frmUpdater.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/ScriptedToolkit.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

// An installation folder with its temp folder, the scripted toolkit and the
// window; the package comes from a server the test starts.
class DownloadFixture : public ::testing::Test {
protected:
    DownloadFixture();

    void makeWindow(const std::string& packageHost);
    // DownloadFile of the package address into the package file.
    void download();
    // The failure DownloadFile raises; fails the test when there is none.
    platform::Error downloadFailure();
    // The whole update run against a version endpoint that offers an update,
    // answering Yes to the offer; true when the program ended.
    bool runUpdate();
    // Runs action at every pump from now on (after counting it).
    void atEveryPump(std::function<void()> action);

    std::string packagePath() const { return install / "temp/morvane.zip"; }
    std::string package() const { return testsupport::readFile(packagePath()); }
    std::string log() const { return testsupport::readFile(install / "NoteError.txt"); }

    testsupport::TempDir install;
    platform::ScriptedToolkit ui;
    platform::SystemServices services;
    std::unique_ptr<updater::frmUpdater> form;

private:
    std::unique_ptr<testsupport::LoopbackServer> m_versionServer;
    std::string m_packageHost;
};
