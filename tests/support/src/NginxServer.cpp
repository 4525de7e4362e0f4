#include "testsupport/NginxServer.h"

#include <filesystem>

namespace testsupport {

namespace {

// @FOLDER@, @ROOT@, @PORT@, @RATE@, @RANGES@ and @INCLUDE@ are filled in.
const char* const configurationTemplate = R"(master_process off;
worker_processes 1;
pid @FOLDER@/nginx.pid;
error_log stderr;
events { worker_connections 64; }
http {
    log_format brief '$status $body_bytes_sent "$http_range"';
    access_log @FOLDER@/access.log brief;
    client_body_temp_path @FOLDER@/temp/body;
    proxy_temp_path @FOLDER@/temp/proxy;
    fastcgi_temp_path @FOLDER@/temp/fastcgi;
    uwsgi_temp_path @FOLDER@/temp/uwsgi;
    scgi_temp_path @FOLDER@/temp/scgi;
    default_type application/octet-stream;
    sendfile on;
    server {
        listen 127.0.0.1:@PORT@;
        root @ROOT@;
        limit_rate @RATE@;
        @RANGES@
        @INCLUDE@
    }
}
)";

} // namespace

NginxServer::NginxServer(const std::string& root, std::uint64_t limitRate,
                         const std::string& settings, Ranges ranges) {
    const std::string& own = folder().path();
    std::filesystem::create_directories(own + "/temp");
    writeFile(own + "/nginx.conf",
              filled(configurationTemplate,
                     {{"@FOLDER@", own},
                      {"@ROOT@", root},
                      {"@PORT@", std::to_string(port())},
                      {"@RATE@", std::to_string(limitRate)},
                      // None: every range request is answered whole.
                      {"@RANGES@", ranges == Ranges::served ? "" : "max_ranges 0;"},
                      {"@INCLUDE@", included("include @;", settings)}}));
    // Its complaints go to the output the start reports when it fails.
    start({"nginx", "-p", own, "-e", "stderr", "-c", own + "/nginx.conf", "-g", "daemon off;"});
}

std::string NginxServer::accessLog() const {
    return readFile(folder() / "access.log");
}

} // namespace testsupport
