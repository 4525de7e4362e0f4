#include "testsupport/NginxServer.h"

#include <filesystem>
#include <utility>

namespace testsupport {

namespace {

// @FOLDER@, @ROOT@, @PORT@ and @RATE@ are filled in.
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
    }
}
)";

std::string configuration(const std::string& folder, const std::string& root, int port,
                          std::uint64_t limitRate) {
    const std::pair<std::string, std::string> fields[] = {{"@FOLDER@", folder},
                                                          {"@ROOT@", root},
                                                          {"@PORT@", std::to_string(port)},
                                                          {"@RATE@", std::to_string(limitRate)}};
    std::string text = configurationTemplate;
    for (const auto& [name, value] : fields) {
        for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at)) {
            text.replace(at, name.size(), value);
            at += value.size();
        }
    }
    return text;
}

} // namespace

NginxServer::NginxServer(const std::string& root, std::uint64_t limitRate) {
    const std::string& own = folder().path();
    std::filesystem::create_directories(own + "/temp");
    writeFile(own + "/nginx.conf", configuration(own, root, port(), limitRate));
    // Its complaints go to the output the start reports when it fails.
    start({"nginx", "-p", own, "-e", "stderr", "-c", own + "/nginx.conf", "-g", "daemon off;"});
}

std::string NginxServer::accessLog() const {
    return readFile(folder() / "access.log");
}

} // namespace testsupport
