#pragma once

#include "delta/LocalPackage.h"
#include "run/frmUpdater.h"
#include "testsupport/PublisherKey.h"
#include "testsupport/ScriptedToolkit.h"
#include "testsupport/ScriptedWeb.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

// An installation of 1.3.1 and the release 1.3.2 published over it by the
// publisher's tool with its key; the version answer and the package served
// by the scripted web at the updater's fixed addresses; the window of an
// updater built with the key, over the scripted toolkit, answering Yes.
class ChangedFilesRun : public ::testing::Test {
protected:
    ChangedFilesRun();

    // Files by path in the release: written into the release folder (with
    // morvane.exe of 1.3.2), published and served.
    void publish(const std::map<std::string, std::string>& files);
    void writeRelease(const std::map<std::string, std::string>& files);
    void publishWritten();
    // Files by path in the installation, with morvane.exe of 1.3.1.
    void install(const std::map<std::string, std::string>& files);

    // The whole update; true when the program ended, as it does when the
    // release is installed.
    bool runUpdate();

    std::string installed(const std::string& path) const;
    std::string released(const std::string& path) const;
    // The published package as the updater reads it.
    delta::LocalPackage package() const;
    const std::string& packageBytes() const { return m_package; }
    // Where the entry's span lies in the package.
    delta::ByteSpan spanOf(const std::string& entryName) const;

    // Range requests of the package, and whether the whole package was asked.
    std::uint64_t packageBytesTaken() const { return web.bytesTaken(packageUrl); }
    bool wholePackageAsked() const;

    static const std::string packageUrl;

    testsupport::TempDir root;
    std::string installFolder;
    std::string releaseFolder;
    std::string servedFolder;
    testsupport::PublisherKey key;
    testsupport::ScriptedWeb web;
    testsupport::ScriptedServices services{web};
    platform::ScriptedToolkit ui;
    std::unique_ptr<updater::frmUpdater> form;

private:
    std::string m_package;
};
