#pragma once

// The ways the updater reaches nginx serving a publication, as users'
// networks give them: through an office's proxy (plain, with a password,
// opening secure connections itself), by the desktop's proxy settings,
// over HTTPS, by a redirect, over IPv6, or not at all, when a hotel's
// sign-in page answers instead.

#include "platform/http/NetworkFailure.h"
#include "testsupport/CertificateAuthority.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PacedRelay.h"
#include "testsupport/SignInPage.h"
#include "testsupport/SquidProxy.h"
#include "testsupport/TempDir.h"

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace networks {

// The proxy's user and password; no run may show the password.
inline const std::string proxyUser = "morvane";
inline const std::string proxyPassword = "secret";

// What stands between the updater and the publication on one route, started
// for one test and stopped with the object.
class Network {
public:
    enum class Scheme { http, https };
    enum class Authority { origin, interceptor, unrelated };

    explicit Network(std::string root) : m_root(std::move(root)) {}

    using Loopback = testsupport::PacedRelay::Loopback;

    // nginx serving the publication (with the origin's certificate over
    // HTTPS) behind a relay that can pace it, both on the loopback asked
    // for; its address for the updater, "127.0.0.1:P", "[::1]:P" or
    // "https://127.0.0.1:P".
    std::string serveOrigin(Scheme scheme, Loopback loopback = Loopback::ipv4);
    // nginx redirecting every request to target; its address.
    std::string redirectTo(Scheme scheme, const std::string& target);
    // Squid as the network's forward proxy.
    testsupport::SquidProxy& startProxy(const testsupport::SquidProxy::Options& options);
    // The hotel's sign-in page answering every request; its address.
    std::string signInPage(testsupport::SignInPage::Arrival arrival);
    // The desktop's proxy settings for the updater: GNOME's, from a key
    // file of these lines.
    void desktopSettings(const std::string& keyfile);
    // A PAC file served on loopback naming the proxy; its address.
    std::string servePac(const std::string& script);

    const testsupport::CertificateAuthority& authority(Authority which);
    void addEnvironment(const std::string& name, const std::string& value) {
        environment.added[name] = value;
    }

    // What the updater is given: the publisher's host, its environment and
    // the authority (a PEM file) put beside it as updater-ca.pem, if any.
    std::string host;
    testsupport::Environment environment = testsupport::withoutProxies();
    std::string trusted;

    testsupport::PacedRelay* relay() { return m_relay.get(); }
    testsupport::NginxServer* origin() { return m_origin.get(); }
    testsupport::SquidProxy* proxy() { return m_proxy.get(); }
    // Stops every server; what each logged.
    std::string logs();

private:
    std::string m_root;
    testsupport::TempDir m_folder;
    std::unique_ptr<testsupport::CertificateAuthority> m_authorities[3];
    std::unique_ptr<testsupport::NginxServer> m_origin;
    std::unique_ptr<testsupport::PacedRelay> m_relay;
    std::unique_ptr<testsupport::NginxServer> m_redirector;
    std::unique_ptr<testsupport::NginxServer> m_pacServer;
    std::unique_ptr<testsupport::SquidProxy> m_proxy;
    std::unique_ptr<testsupport::SignInPage> m_signInPage;
};

// One route: its name, how its network is made, and, for a route that
// cannot work, the kind of failure the updater names and the issuer of the
// certificate it refused, if that is the reason.
struct Route {
    const char* name;
    std::function<void(Network&)> build;
    std::optional<platform::NetworkFailureKind> failure = std::nullopt;
    std::optional<Network::Authority> refusedIssuer = std::nullopt;
};

// The routes by which the update arrives, and those by which it cannot.
std::vector<Route> workingRoutes();
std::vector<Route> failingRoutes();

inline void PrintTo(const Route& route, std::ostream* out) {
    *out << route.name;
}

} // namespace networks
