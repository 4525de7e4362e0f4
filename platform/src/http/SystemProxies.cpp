#include "platform/http/ProxyChoice.h"

#include <proxy.h>

#include <map>

namespace platform {

namespace {

const char* const desktopSettings = "the desktop's proxy settings";

// libproxy's answer as libcurl takes a proxy; empty for none it can use.
std::string curlProxy(const std::string& offered) {
    if (offered.starts_with("http://") || offered.starts_with("https://") ||
        offered.starts_with("socks4://") || offered.starts_with("socks5://")) {
        return offered;
    }
    if (offered.starts_with("socks://")) {
        return "socks5://" + offered.substr(8);
    }
    return {};
}

// "https://host:port" of a URL: what the settings can tell apart.
std::string placeOf(const std::string& url) {
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    return url.substr(0, url.find('/', start));
}

} // namespace

// The proxy library's factory, made on first use: it reads the desktop's
// settings and may fetch and run an auto-configuration script, so each
// place is asked once.
class SystemProxies::Desktop {
public:
    Desktop() : m_factory(px_proxy_factory_new()) {}
    ~Desktop() {
        if (m_factory != nullptr) {
            px_proxy_factory_free(m_factory);
        }
    }
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    ProxyRoute routeFor(const std::string& url) {
        const std::string place = placeOf(url);
        const auto known = m_known.find(place);
        if (known != m_known.end()) {
            return known->second;
        }
        ProxyRoute route = ask(url);
        m_known.emplace(place, route);
        return route;
    }

private:
    ProxyRoute ask(const std::string& url) const {
        if (m_factory == nullptr) {
            return {};
        }
        char** offered = px_proxy_factory_get_proxies(m_factory, url.c_str());
        if (offered == nullptr) {
            return {};
        }
        ProxyRoute route;
        for (char** entry = offered; *entry != nullptr; ++entry) {
            const std::string one = *entry;
            if (one == "direct://") {
                break;
            }
            if (std::string proxy = curlProxy(one); !proxy.empty()) {
                route = {std::move(proxy), desktopSettings};
                break;
            }
        }
        px_proxy_factory_free_proxies(offered);
        return route;
    }

    pxProxyFactory* m_factory;
    std::map<std::string, ProxyRoute> m_known;
};

SystemProxies::SystemProxies(EnvironmentReader environment)
    : m_environment(std::move(environment)) {}

SystemProxies::~SystemProxies() = default;

ProxyRoute SystemProxies::routeFor(const std::string& url) {
    if (std::optional<ProxyRoute> named = environmentProxy(url, m_environment)) {
        return *named;
    }
    if (!m_desktop) {
        m_desktop = std::make_unique<Desktop>();
    }
    return m_desktop->routeFor(url);
}

} // namespace platform
