#pragma once

#include "platform/DesktopShell.h"
#include "platform/Services.h"

namespace platform {

// The real services: HTTP over libcurl, the local disk, the desktop's way of
// opening files.
class SystemServices : public Services {
public:
    std::unique_ptr<HttpRequest> newHttpRequest() override;
    std::unique_ptr<FileSystem> newFileSystem() override;
    std::unique_ptr<InternetTransfer> newInternetTransfer() override;
    Shell& shell() override { return m_shell; }

private:
    DesktopShell m_shell;
};

} // namespace platform
