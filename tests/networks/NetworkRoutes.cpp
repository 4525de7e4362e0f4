#include "NetworkRoutes.h"

#include "testsupport/LoopbackServer.h"

#include <filesystem>

namespace networks {

namespace {

using Failure = platform::NetworkFailureKind;
using Scheme = Network::Scheme;
using Authority = Network::Authority;
using testsupport::SquidProxy;

// The names the authorities sign as, which a refusal may show.
const char* const authorityNames[] = {"Morvane Test Publisher Authority",
                                      "Harbour Office Inspection Authority",
                                      "Unrelated Test Authority"};

SquidProxy::Options signingIn() {
    SquidProxy::Options options;
    options.user = proxyUser;
    options.password = proxyPassword;
    return options;
}

SquidProxy::Options intercepting(Network& network) {
    SquidProxy::Options options;
    options.bumpAuthority = &network.authority(Authority::interceptor);
    options.trustedOrigins = network.authority(Authority::origin).certificate();
    return options;
}

// The origin over HTTPS, its authority trusted by the updater.
void trustedHttpsOrigin(Network& network) {
    network.host = network.serveOrigin(Scheme::https);
    network.trusted = network.authority(Authority::origin).certificate();
}

Route proxyRoute(const char* name, Scheme scheme, bool signIn) {
    return {name, [scheme, signIn](Network& network) {
                if (scheme == Scheme::https) {
                    trustedHttpsOrigin(network);
                } else {
                    network.host = network.serveOrigin(Scheme::http);
                }
                const SquidProxy& proxy =
                    network.startProxy(signIn ? signingIn() : SquidProxy::Options());
                network.addEnvironment(scheme == Scheme::https ? "https_proxy" : "http_proxy",
                                       proxy.url(signIn));
            }};
}

// GNOME leaves loopback and localhost out of its proxy settings unless told
// otherwise; the publisher here is on loopback.
const std::string everyHost = "ignore-hosts=@as []\n";

// GNOME's settings naming the proxy through a PAC file, or by its address.
Route desktopRoute(const char* name, bool byPac) {
    return {name, [byPac](Network& network) {
                network.host = network.serveOrigin(Scheme::http);
                const SquidProxy& proxy = network.startProxy(SquidProxy::Options());
                if (byPac) {
                    const std::string pac = network.servePac(
                        "function FindProxyForURL(url, host) {\n    return \"PROXY " +
                        proxy.host() + "\";\n}\n");
                    network.desktopSettings("[system/proxy]\nmode='auto'\nautoconfig-url='" + pac +
                                            "'\n" + everyHost);
                } else {
                    network.desktopSettings("[system/proxy]\nmode='manual'\n" + everyHost +
                                            "\n[system/proxy/http]\nhost='127.0.0.1'\nport=" +
                                            std::to_string(proxy.port()) + "\n");
                }
            }};
}

} // namespace

std::string Network::serveOrigin(Scheme scheme, Loopback loopback) {
    testsupport::NginxServer::Options options;
    options.ipv6 = loopback == Loopback::ipv6;
    if (scheme == Scheme::https) {
        const auto issued = authority(Authority::origin).loopbackServer();
        options.certificate = issued.certificate;
        options.certificateKey = issued.key;
    }
    m_origin = std::make_unique<testsupport::NginxServer>(m_root, options);
    // The relay passes TLS untouched: what was asked shows in nginx's log.
    m_relay = std::make_unique<testsupport::PacedRelay>(
        m_origin->port(), 0, testsupport::PacedRelay::ClientBuffer::system,
        testsupport::PacedRelay::Framing::raw, loopback);
    // Plain HTTP by the bare address, as installations have always named it.
    return (scheme == Scheme::https ? "https://" : "") + m_relay->host();
}

std::string Network::redirectTo(Scheme scheme, const std::string& target) {
    testsupport::NginxServer::Options options;
    options.redirectTo = target;
    if (scheme == Scheme::https) {
        const auto issued = authority(Authority::origin).loopbackServer();
        options.certificate = issued.certificate;
        options.certificateKey = issued.key;
    }
    m_redirector = std::make_unique<testsupport::NginxServer>(m_folder.path(), options);
    return m_redirector->url();
}

SquidProxy& Network::startProxy(const SquidProxy::Options& options) {
    m_proxy = std::make_unique<SquidProxy>(options);
    return *m_proxy;
}

std::string Network::signInPage(testsupport::SignInPage::Arrival arrival) {
    m_signInPage = std::make_unique<testsupport::SignInPage>(arrival);
    return m_signInPage->host();
}

void Network::desktopSettings(const std::string& keyfile) {
    const std::string settings = m_folder / "config/glib-2.0/settings";
    std::filesystem::create_directories(settings);
    testsupport::writeFile(settings + "/keyfile", keyfile);
    addEnvironment("DESKTOP_SESSION", "gnome");
    addEnvironment("GSETTINGS_BACKEND", "keyfile");
    addEnvironment("XDG_CONFIG_HOME", m_folder / "config");
}

std::string Network::servePac(const std::string& script) {
    const std::string served = m_folder / "pac";
    std::filesystem::create_directories(served);
    testsupport::writeFile(served + "/proxy.pac", script);
    m_pacServer = std::make_unique<testsupport::NginxServer>(served);
    return m_pacServer->url() + "/proxy.pac";
}

const testsupport::CertificateAuthority& Network::authority(Authority which) {
    auto& made = m_authorities[static_cast<int>(which)];
    if (!made) {
        made = std::make_unique<testsupport::CertificateAuthority>(
            authorityNames[static_cast<int>(which)]);
    }
    return *made;
}

std::string Network::logs() {
    std::string text;
    const auto add = [&](const char* name, auto& server) {
        if (server) {
            server->stop();
            text += std::string(name) + ":\n" + server->accessLog();
        }
    };
    add("proxy", m_proxy);
    add("redirector", m_redirector);
    add("pac", m_pacServer);
    if (m_origin) {
        m_origin->stop();
        text += "origin:\n" + m_origin->requestLog();
    }
    if (m_signInPage) {
        text += "sign-in page:\n";
        for (const std::string& request : m_signInPage->requests()) {
            text += request;
        }
    }
    return text;
}

std::vector<Route> workingRoutes() {
    return {
        proxyRoute("ProxyToHttp", Scheme::http, false),
        proxyRoute("SignedInProxyToHttp", Scheme::http, true),
        proxyRoute("ProxyTunnelToHttps", Scheme::https, false),
        proxyRoute("SignedInProxyTunnelToHttps", Scheme::https, true),
        {"InspectingProxyTrusted",
         [](Network& network) {
             network.host = network.serveOrigin(Scheme::https);
             network.addEnvironment("https_proxy", network.startProxy(intercepting(network)).url());
             network.trusted = network.authority(Authority::interceptor).certificate();
         }},
        {"NoProxyForLoopback",
         [](Network& network) {
             // Named with its scheme, as a publisher may write it now.
             network.host = "http://" + network.serveOrigin(Scheme::http);
             const std::string nowhere =
                 "http://127.0.0.1:" + std::to_string(testsupport::refusedPort());
             network.addEnvironment("http_proxy", nowhere);
             network.addEnvironment("https_proxy", nowhere);
             network.addEnvironment("no_proxy", "127.0.0.1");
         }},
        {"HttpsDirect", trustedHttpsOrigin},
        {"RedirectToHttps",
         [](Network& network) {
             trustedHttpsOrigin(network);
             network.host = network.redirectTo(Scheme::http, network.host);
         }},
        {"Ipv6Loopback",
         [](Network& network) {
             network.host = network.serveOrigin(Scheme::http, Network::Loopback::ipv6);
         }},
        desktopRoute("DesktopProxyByPac", true),
        desktopRoute("DesktopProxyByAddress", false),
    };
}

std::vector<Route> failingRoutes() {
    return {
        {"InspectingProxyUntrusted",
         [](Network& network) {
             network.host = network.serveOrigin(Scheme::https);
             network.addEnvironment("https_proxy", network.startProxy(intercepting(network)).url());
             // The publisher's authority only: not the one that inspects.
             network.trusted = network.authority(Authority::origin).certificate();
         },
         Failure::certificateUntrusted, Authority::interceptor},
        {"HttpsUntrusted",
         [](Network& network) {
             network.host = network.serveOrigin(Scheme::https);
             network.trusted = network.authority(Authority::unrelated).certificate();
         },
         Failure::certificateUntrusted, Authority::origin},
        {"RedirectFromHttpsToHttp",
         [](Network& network) {
             const std::string plain = network.serveOrigin(Scheme::http);
             network.host = network.redirectTo(Scheme::https, "http://" + plain);
             network.trusted = network.authority(Authority::origin).certificate();
         },
         Failure::redirectRefused},
        {"SignInPage",
         [](Network& network) {
             network.host = network.signInPage(testsupport::SignInPage::Arrival::atOnce);
         },
         Failure::signInPage},
        {"SignInPageRedirected",
         [](Network& network) {
             network.host = network.signInPage(testsupport::SignInPage::Arrival::redirected);
         },
         Failure::signInPage},
        {"ProxyWithoutCredentials",
         [](Network& network) {
             network.host = network.serveOrigin(Scheme::http);
             network.addEnvironment("http_proxy", network.startProxy(signingIn()).url());
         },
         Failure::proxyCredentials},
        // A password that is not the proxy's: refused, and never shown.
        {"ProxyWithWrongPassword",
         [](Network& network) {
             network.host = network.serveOrigin(Scheme::https);
             const std::string proxy = network.startProxy(signingIn()).host();
             network.addEnvironment("https_proxy", "http://" + proxyUser + ":not-the-" +
                                                       proxyPassword + "@" + proxy);
         },
         Failure::proxyCredentials},
    };
}

} // namespace networks
