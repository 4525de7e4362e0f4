#include "platform/http/NetworkAccess.h"

#include "http/ExtraAuthorities.h"

#include <cstdlib>

namespace platform {

NetworkAccess::NetworkAccess(const std::vector<std::string>& authorityFiles,
                             std::shared_ptr<ProxyChoice> proxies)
    : m_authorities(std::make_unique<curl::ExtraAuthorities>(authorityFiles)),
      m_proxies(std::move(proxies)) {}

NetworkAccess::~NetworkAccess() = default;

ProxyRoute NetworkAccess::routeFor(const std::string& url) const {
    if (m_proxies) {
        return m_proxies->routeFor(url);
    }
    return environmentProxy(
               url, [](const char* name) { return static_cast<const char*>(std::getenv(name)); })
        .value_or(ProxyRoute{});
}

} // namespace platform
