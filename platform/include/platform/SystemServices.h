#pragma once

#include "platform/Services.h"
#include "platform/shell/DesktopShell.h"

#include <chrono>

namespace platform {

// The real services: HTTP over libcurl, the local disk, the desktop's way of
// opening files.
class SystemServices : public Services {
public:
    // silenceLimit: how long the version check's answer and the package may
    // stay silent before the request fails.
    explicit SystemServices(std::chrono::milliseconds silenceLimit = std::chrono::seconds(30))
        : m_silenceLimit(silenceLimit) {}
    std::unique_ptr<HttpRequest> newHttpRequest() override;
    std::unique_ptr<FileSystem> newFileSystem() override;
    std::unique_ptr<InternetTransfer> newInternetTransfer() override;
    Shell& shell() override { return m_shell; }

private:
    std::chrono::milliseconds m_silenceLimit;
    DesktopShell m_shell;
};

} // namespace platform
