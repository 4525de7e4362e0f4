#pragma once

#include "platform/Services.h"
#include "platform/http/NetworkAccess.h"
#include "platform/http/TransferLimits.h"
#include "platform/shell/DesktopShell.h"

#include <chrono>
#include <memory>

namespace platform {

// The real services: HTTP over libcurl, the local disk, the desktop's way of
// opening files.
class SystemServices : public Services {
public:
    // When the version request and the download are given up, and how they
    // reach the network (none: the environment's proxy variables alone).
    explicit SystemServices(const TransferLimits& limits = {},
                            std::shared_ptr<const NetworkAccess> network = nullptr)
        : m_limits(limits), m_network(std::move(network)) {}
    // The default limits but for silence.
    explicit SystemServices(std::chrono::milliseconds silence) { m_limits.silence = silence; }
    std::unique_ptr<HttpRequest> newHttpRequest() override;
    std::unique_ptr<FileSystem> newFileSystem() override;
    std::unique_ptr<InternetTransfer> newInternetTransfer() override;
    Shell& shell() override { return m_shell; }

private:
    TransferLimits m_limits;
    std::shared_ptr<const NetworkAccess> m_network;
    DesktopShell m_shell;
};

} // namespace platform
