#pragma once

#include "app/UpdateDecision.h"
#include "platform/Services.h"
#include "platform/files/FileSystem.h"

#include <functional>
#include <string>

namespace updater {

// Whether the publisher offers a newer version than the one installed: the
// installed application's file version against the version endpoint's
// answer. Never fails: a step that fails is skipped and the next one runs.
class VersionCheck {
public:
    // pause waits the given seconds with the window kept alive.
    VersionCheck(platform::Services& services, std::function<platform::FileSystem&()> fileSystem,
                 std::function<void(double)> pause, std::string applicationPath,
                 std::string versionAddress);

    // Fills the installed-version fields.
    void readInstalledVersion();
    // Asks the endpoint: "UPDATE_AVAILABLE", "NO_UPDATE", or "NA" when it
    // gave no usable answer.
    std::string updateStatus();
    // The version the last answer offered, as its three pieces joined by
    // ".": what the package must be signed for.
    std::string offeredVersion() const;
    // The installed version as last read: the parts the check compares, and
    // the whole file version for messages (empty without an application).
    InstalledVersion installedVersion() const;
    const std::string& installedVersionText() const;

private:
    platform::Services& m_services;
    std::function<platform::FileSystem&()> m_fileSystem;
    std::function<void(double)> m_pause;
    std::string m_applicationPath;
    std::string m_versionAddress;
    std::string m_installedText;

    std::string strLocalVer1;
    std::string strLocalVer2;
    std::string strLocalVer3;
    std::string strServerVer1;
    std::string strServerVer2;
    std::string strServerVer3;
};

} // namespace updater
