// Times the whole update of one signed package over the routes users'
// networks take, each against the same update from nginx straight over
// plain HTTP, turns alternating in one run, through the real window
// offscreen: through Squid as a forward proxy (http_proxy), over HTTPS
// (nginx with a test certificate authority given in updater-ca.pem), and
// over HTTPS through Squid's tunnel (https_proxy). The updater's link is a
// relay on loopback in front of the first hop (nginx, or the proxy) that
// passes the bytes untouched; --rate holds it to that many MB/s, as the
// user's line would (unlimited by default).
//
//   network_bench [--size 64] [--files 16] [--rounds 3] [--rate MBps]

#include "BenchSupport.h"
#include "UpdatePackage.h"
#include "testsupport/CertificateAuthority.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PacedRelay.h"
#include "testsupport/SquidProxy.h"
#include "testsupport/TempDir.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// One way to the package: the host the updater is built with, the proxy
// variables it runs with, and whether it needs the test authority.
struct Route {
    const char* name;
    std::string host;
    std::map<std::string, std::string> variables;
    bool authority = false;
};

struct Turns {
    std::vector<double> wall;
    std::vector<double> cpu;
};

class Bench {
public:
    Bench(int sizeMiB, int fileCount, std::uint64_t rate)
        : m_fileCount(fileCount), m_authority("Network Bench Authority") {
        bench::useOffscreenWindows(m_work.path());
        const std::string published = m_work / "www/clientfiles/morvane";
        std::filesystem::create_directories(published);
        bench::makePackage(published + "/morvane.zip", m_work / "files", sizeMiB, fileCount);
        m_key = bench::signPublication(published, m_work / "key.pem");
        const auto issued = m_authority.loopbackServer();
        testsupport::NginxServer::Options secure;
        secure.certificate = issued.certificate;
        secure.certificateKey = issued.key;
        m_plain = std::make_unique<testsupport::NginxServer>(m_work / "www");
        m_secure = std::make_unique<testsupport::NginxServer>(m_work / "www", secure);
        const auto link = [rate](int port) {
            return std::make_unique<testsupport::PacedRelay>(
                port, rate, testsupport::PacedRelay::ClientBuffer::system,
                testsupport::PacedRelay::Framing::raw);
        };
        m_plainLink = link(m_plain->port());
        m_secureLink = link(m_secure->port());
        m_proxyLink = link(m_proxy.port());
    }

    std::vector<Route> routes() const {
        const std::string proxy = "http://" + m_proxyLink->host();
        return {{"direct", m_plainLink->host(), {}},
                {"proxy", m_plain->host(), {{"http_proxy", proxy}}},
                {"https", "https://" + m_secureLink->host(), {}, true},
                {"https+proxy", m_secure->url(), {{"https_proxy", proxy}}, true}};
    }

    // One update over route into a fresh installation.
    bench::Sample update(const Route& route, bool& ok) {
        const std::string install = m_work / "install";
        bench::freshInstallation(install, m_work / "none");
        if (route.authority) {
            std::filesystem::copy_file(m_authority.certificate(), install + "/updater-ca.pem");
        }
        const bench::Sample s =
            bench::run({QT_UPDATE_CHILD, install, route.host, UNZIP32_FOLDER, "", m_key},
                       m_work / "update.out", testsupport::withoutProxies(route.variables));
        ok = ok && bench::updated(install, m_work / "files", m_fileCount);
        return s;
    }

private:
    testsupport::TempDir m_work;
    int m_fileCount;
    std::string m_key;
    testsupport::CertificateAuthority m_authority;
    testsupport::SquidProxy m_proxy;
    std::unique_ptr<testsupport::NginxServer> m_plain;
    std::unique_ptr<testsupport::NginxServer> m_secure;
    std::unique_ptr<testsupport::PacedRelay> m_plainLink;
    std::unique_ptr<testsupport::PacedRelay> m_secureLink;
    std::unique_ptr<testsupport::PacedRelay> m_proxyLink;
};

int compare(int sizeMiB, int fileCount, int rounds, std::uint64_t rate) {
    Bench bench(sizeMiB, fileCount, rate);
    const std::vector<Route> routes = bench.routes();
    std::vector<Turns> turns(routes.size());
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        // Each round in another order, so that a slow moment hits all.
        for (std::size_t turn = 0; turn < routes.size(); ++turn) {
            const std::size_t which = (turn + static_cast<std::size_t>(round)) % routes.size();
            const bench::Sample s = bench.update(routes[which], ok);
            turns[which].wall.push_back(s.wall);
            turns[which].cpu.push_back(s.cpu);
        }
    }
    std::printf("%-12s %9s %9s %7s %7s %8s %8s\n", "route", "update s", "direct s", "ratio",
                "paired", "CPU s", "dir CPU");
    const Turns& direct = turns.front();
    for (std::size_t route = 1; route < routes.size(); ++route) {
        std::vector<double> ratios;
        for (int round = 0; round < rounds; ++round) {
            ratios.push_back(turns[route].wall[round] / direct.wall[round]);
        }
        std::printf("%-12s %9.3f %9.3f %7.3f %7.3f %8.3f %8.3f\n", routes[route].name,
                    bench::median(turns[route].wall), bench::median(direct.wall),
                    bench::median(turns[route].wall) / bench::median(direct.wall),
                    bench::median(ratios), bench::median(turns[route].cpu),
                    bench::median(direct.cpu));
    }
    std::printf("medians of %d rounds (paired: of each round's ratio); %d MiB in %d files, "
                "signed; each route against nginx straight over plain HTTP; the link %s; "
                "every file in place every time: %s\n",
                rounds, sizeMiB, fileCount,
                rate == 0 ? "unlimited"
                          : ("held to " + std::to_string(rate / 1000000) + " MB/s").c_str(),
                ok ? "yes" : "NO");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return compare(bench::countOption(argc, argv, "--size", 64),
                       bench::countOption(argc, argv, "--files", 16),
                       bench::countOption(argc, argv, "--rounds", 3),
                       bench::rateOption(argc, argv));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "network_bench: %s\n", failure.what());
        return 1;
    }
}
