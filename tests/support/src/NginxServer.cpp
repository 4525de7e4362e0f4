#include "testsupport/NginxServer.h"

#include <filesystem>
#include <sstream>

namespace testsupport {

namespace {

// @FOLDER@, @LISTEN@, @ROOT@, @RATE@, @RANGES@, @TLS@, @REDIRECT@ and
// @INCLUDE@ are filled in.
const char* const configurationTemplate = R"(master_process off;
worker_processes 1;
pid @FOLDER@/nginx.pid;
error_log stderr;
events { worker_connections 64; }
http {
    log_format brief '$status $body_bytes_sent "$http_range"';
    log_format requests '$status $body_bytes_sent "$http_range" $request_method $request_uri';
    access_log @FOLDER@/access.log brief;
    access_log @FOLDER@/requests.log requests;
    client_body_temp_path @FOLDER@/temp/body;
    proxy_temp_path @FOLDER@/temp/proxy;
    fastcgi_temp_path @FOLDER@/temp/fastcgi;
    uwsgi_temp_path @FOLDER@/temp/uwsgi;
    scgi_temp_path @FOLDER@/temp/scgi;
    default_type application/octet-stream;
    sendfile on;
    server {
        @LISTEN@
        @TLS@
        root @ROOT@;
        limit_rate @RATE@;
        @REDIRECT@
        @RANGES@
        @INCLUDE@
    }
}
)";

std::string listenLines(int port, const NginxServer::Options& options) {
    const std::string secure = options.certificate.empty() ? "" : " ssl";
    std::string lines = "listen 127.0.0.1:" + std::to_string(port) + secure + ";";
    if (options.ipv6) {
        lines += "\n        listen [::1]:" + std::to_string(port) + secure + ";";
    }
    return lines;
}

std::string tlsLines(const NginxServer::Options& options) {
    if (options.certificate.empty()) {
        return {};
    }
    return "ssl_certificate " + options.certificate + ";\n        ssl_certificate_key " +
           options.certificateKey + ";";
}

} // namespace

namespace {

NginxServer::Options plainOptions(std::uint64_t limitRate, const std::string& settings,
                                  NginxServer::Ranges ranges) {
    NginxServer::Options options;
    options.limitRate = limitRate;
    options.settings = settings;
    options.ranges = ranges;
    return options;
}

} // namespace

NginxServer::NginxServer(const std::string& root, std::uint64_t limitRate,
                         const std::string& settings, Ranges ranges)
    : NginxServer(root, plainOptions(limitRate, settings, ranges)) {}

NginxServer::NginxServer(const std::string& root, const Options& options)
    : m_secure(!options.certificate.empty()) {
    const std::string& own = folder().path();
    std::filesystem::create_directories(own + "/temp");
    writeFile(own + "/nginx.conf",
              filled(configurationTemplate,
                     {{"@FOLDER@", own},
                      {"@LISTEN@", listenLines(port(), options)},
                      {"@TLS@", tlsLines(options)},
                      {"@ROOT@", root},
                      {"@RATE@", std::to_string(options.limitRate)},
                      {"@REDIRECT@", options.redirectTo.empty()
                                         ? ""
                                         : "return 301 " + options.redirectTo + "$request_uri;"},
                      // None: every range request is answered whole.
                      {"@RANGES@", options.ranges == Ranges::served ? "" : "max_ranges 0;"},
                      {"@INCLUDE@", included("include @;", options.settings)}}));
    // Its complaints go to the output the start reports when it fails.
    start({"nginx", "-p", own, "-e", "stderr", "-c", own + "/nginx.conf", "-g", "daemon off;"});
}

std::string NginxServer::url() const {
    return (m_secure ? "https://" : "http://") + host();
}

std::string NginxServer::accessLog() const {
    return readFile(folder() / "access.log");
}

std::string NginxServer::requestLog() const {
    return readFile(folder() / "requests.log");
}

} // namespace testsupport

namespace testsupport {

std::vector<LoggedRequest> loggedRequests(const std::string& log) {
    std::vector<LoggedRequest> requests;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        // The Range may hold spaces ("bytes=0-9, 20-29"): it ends at its quote.
        const std::size_t open = line.find('"');
        const std::size_t close = open == std::string::npos ? open : line.find('"', open + 1);
        if (close == std::string::npos) {
            continue;
        }
        LoggedRequest request;
        std::istringstream before(line.substr(0, open));
        std::istringstream after(line.substr(close + 1));
        std::string extra;
        if (!(before >> request.status >> request.bytes) || (before >> extra) ||
            !(after >> request.method >> request.path) || (after >> extra)) {
            continue;
        }
        request.range = line.substr(open + 1, close - open - 1);
        // nginx writes "-" for a header that was not sent.
        if (request.range == "-") {
            request.range.clear();
        }
        requests.push_back(request);
    }
    return requests;
}

} // namespace testsupport
