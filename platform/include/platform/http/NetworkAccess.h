#pragma once

#include "platform/http/ProxyChoice.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

namespace curl {
class ExtraAuthorities;
}

// How the program's requests reach the network: the proxy each one goes
// through, and the certificate authorities trusted besides the system's
// store (PEM files; one that is not there adds nothing).
class NetworkAccess {
public:
    // No proxy choice: the environment's variables alone, as libcurl reads
    // them.
    explicit NetworkAccess(const std::vector<std::string>& authorityFiles = {},
                           std::shared_ptr<ProxyChoice> proxies = nullptr);
    ~NetworkAccess();
    NetworkAccess(const NetworkAccess&) = delete;
    NetworkAccess& operator=(const NetworkAccess&) = delete;

    ProxyRoute routeFor(const std::string& url) const;
    const curl::ExtraAuthorities& authorities() const { return *m_authorities; }

private:
    std::unique_ptr<curl::ExtraAuthorities> m_authorities;
    std::shared_ptr<ProxyChoice> m_proxies;
};

} // namespace platform
