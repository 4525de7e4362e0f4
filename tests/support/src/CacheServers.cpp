#include "testsupport/MatrixServers.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <stdexcept>

namespace testsupport {

namespace {

namespace fs = std::filesystem;

const char* const varnishTemplate = R"(vcl 4.1;
backend origin { .host = "127.0.0.1"; .port = "@ORIGIN@"; }
@INCLUDE@
)";

const char* const squidTemplate = R"(http_port 127.0.0.1:@PORT@ accel defaultsite=127.0.0.1 no-vhost
cache_peer 127.0.0.1 parent @ORIGIN@ 0 no-query no-digest originserver name=origin
http_access allow all
@INCLUDE@
cache_peer_access origin allow all
logformat brief %>Hs %<st "%{Range}>h" %Ss %rp
)";

const char* const trafficServerRecords =
    R"(CONFIG proxy.config.http.server_ports STRING @PORT@:ip-in=127.0.0.1
CONFIG proxy.config.admin.user_id STRING #-1
CONFIG proxy.config.reverse_proxy.enabled INT 1
CONFIG proxy.config.url_remap.remap_required INT 1
CONFIG proxy.config.http.cache.http INT 1
CONFIG proxy.config.http.wait_for_cache INT 1
CONFIG proxy.config.cache.ram_cache.size INT 67108864
CONFIG proxy.config.body_factory.template_sets_dir STRING @FOLDER@/etc/body_factory
CONFIG proxy.config.local_state_dir STRING @FOLDER@/run
CONFIG proxy.config.log.logfile_dir STRING @FOLDER@/log
CONFIG proxy.config.log.max_secs_per_buffer INT 1
)";

// Where each part of the server looks, all in its own folder but the program.
const char* const trafficServerLayout = R"(prefix: @FOLDER@
exec_prefix: /usr
bindir: /usr/bin
sbindir: /usr/sbin
sysconfdir: @FOLDER@/etc
datadir: /usr/share/trafficserver
includedir: /usr/include
libdir: /usr/lib/x86_64-linux-gnu
libexecdir: /usr/lib/trafficserver/modules
localstatedir: @FOLDER@/run
runtimedir: @FOLDER@/run
logdir: @FOLDER@/log
cachedir: @FOLDER@/cache
)";

const char* const trafficServerAllowed = R"(ip_allow:
  - apply: in
    ip_addrs: 127.0.0.1
    action: allow
  - apply: out
    ip_addrs: 127.0.0.1
    action: allow
)";

const char* const trafficServerLogging = R"(logging:
  formats:
    - name: brief
      format: '%<pssc> %<psql> "%<{Range}cqh>" %<crc> %<cqup>'
  logs:
    - filename: access
      format: brief
      mode: ascii
)";

} // namespace

VarnishCache::VarnishCache(int originPort, const std::string& settings) {
    const std::string& own = folder().path();
    writeFile(own + "/default.vcl",
              filled(varnishTemplate, {{"@ORIGIN@", std::to_string(originPort)},
                                       {"@INCLUDE@", included("include \"@\";", settings)}}));
    // No jail: it runs as whoever starts it, with no management port.
    start({"varnishd", "-F", "-j", "none", "-T", "none", "-a", host(), "-f", own + "/default.vcl",
           "-n", own + "/work", "-s", "malloc,96m"});
}

SquidCache::SquidCache(int originPort, const std::string& settings) {
    startSquid(filled(squidTemplate, {{"@ORIGIN@", std::to_string(originPort)},
                                      {"@INCLUDE@", included("include @", settings)}}));
}

TrafficServerCache::TrafficServerCache(int originPort, const std::string& settings) {
    const std::string& own = folder().path();
    for (const char* sub : {"etc", "run", "log", "cache"}) {
        fs::create_directories(own + "/" + sub);
    }
    fs::copy("/etc/trafficserver/body_factory", own + "/etc/body_factory",
             fs::copy_options::recursive);
    const std::string port = std::to_string(this->port());
    const std::pair<std::string, std::string> files[] = {
        {"runroot.yaml", trafficServerLayout},
        {"etc/records.config", trafficServerRecords},
        {"etc/remap.config", "map / http://127.0.0.1:@ORIGIN@/\n"},
        {"etc/storage.config", "@FOLDER@/cache/store 128M\n"},
        {"etc/ip_allow.yaml", trafficServerAllowed},
        {"etc/logging.yaml", trafficServerLogging},
        // The settings are lines to add to cache.config.
        {"etc/cache.config", settings.empty() ? std::string() : readFile(settings)},
    };
    for (const auto& [name, text] : files) {
        writeFile(own + "/" + name, filled(text, {{"@FOLDER@", own},
                                                  {"@PORT@", port},
                                                  {"@ORIGIN@", std::to_string(originPort)}}));
    }
    // The files it reads and finds empty are the ones it needs no rule in.
    for (const char* name :
         {"plugin.config", "parent.config", "hosting.config", "splitdns.config", "socks.config",
          "volume.config", "ssl_multicert.config", "sni.yaml", "strategies.yaml"}) {
        writeFile(own + "/etc/" + name, "");
    }
    start({"traffic_server", "--run-root=" + own + "/runroot.yaml"});
}

std::string TrafficServerCache::accessLog() const {
    return readFile(folder() / "log/access.log");
}

namespace {

// nginx as the other origins are made: from the root and its settings.
class NginxOrigin : public NginxServer {
public:
    NginxOrigin(const std::string& root, const std::string& settings)
        : NginxServer(root, 0, settings) {}
};

// nginx answering every range request with the whole file.
class NginxWithoutRanges : public NginxServer {
public:
    NginxWithoutRanges(const std::string& root, const std::string& settings)
        : NginxServer(root, 0, settings, Ranges::refused) {}
};

Cell withoutRanges(Cell cell) {
    cell.servesRanges = false;
    return cell;
}

template <class Origin> Cell origin(const char* name, const char* settingsName) {
    return {name,
            [settingsName](const std::string& root, Settings settings) {
                return std::make_unique<OriginAlone<Origin>>(
                    root, serverSettings(root, settings, settingsName));
            },
            false};
}

template <class Cache> Cell cached(const char* name, const char* settingsName) {
    return {name,
            [settingsName](const std::string& root, Settings settings) {
                return std::make_unique<CachedNginx<Cache>>(
                    root, serverSettings(root, settings, "nginx.conf"),
                    serverSettings(root, settings, settingsName));
            },
            true};
}

} // namespace

std::string serverSettings(const std::string& root, Settings settings, const std::string& name) {
    if (settings == Settings::defaults) {
        return {};
    }
    const std::string path = root + "/server-settings/" + name;
    if (!exists(path)) {
        throw std::runtime_error("the publisher wrote no settings " + path);
    }
    return path;
}

const std::vector<Cell>& matrixCells() {
    static const std::vector<Cell> cells = {
        origin<NginxOrigin>("Nginx", "nginx.conf"),
        origin<ApacheServer>("Apache", "apache2.conf"),
        origin<LighttpdServer>("Lighttpd", "lighttpd.conf"),
        origin<CaddyServer>("Caddy", "Caddyfile"),
        cached<VarnishCache>("VarnishBeforeNginx", "varnish.vcl"),
        cached<SquidCache>("SquidBeforeNginx", "squid.conf"),
        cached<TrafficServerCache>("TrafficServerBeforeNginx", "trafficserver-cache.config"),
        withoutRanges(origin<NginxWithoutRanges>("NginxWithoutRanges", "nginx.conf")),
    };
    return cells;
}

std::vector<Cell> cacheCells() {
    std::vector<Cell> caches;
    std::copy_if(matrixCells().begin(), matrixCells().end(), std::back_inserter(caches),
                 [](const Cell& cell) { return cell.cache; });
    return caches;
}

} // namespace testsupport
