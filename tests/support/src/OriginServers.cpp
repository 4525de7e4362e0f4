#include "testsupport/MatrixServers.h"

#include <filesystem>

namespace testsupport {

namespace {

const char* const apacheTemplate = R"(ServerRoot @FOLDER@
LoadModule mpm_event_module /usr/lib/apache2/modules/mod_mpm_event.so
LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so
LoadModule headers_module /usr/lib/apache2/modules/mod_headers.so
PidFile @FOLDER@/httpd.pid
Mutex file:@FOLDER@
Listen 127.0.0.1:@PORT@
ServerName 127.0.0.1
ErrorLog @FOLDER@/error.log
LogFormat "%>s %B \"%{Range}i\" %U" brief
CustomLog @FOLDER@/access.log brief
StartServers 1
ServerLimit 1
ThreadsPerChild 25
MaxRequestWorkers 25
DocumentRoot @ROOT@
<Directory @ROOT@>
    Require all granted
</Directory>
@INCLUDE@
)";

const char* const lighttpdTemplate = R"(server.document-root = "@ROOT@"
server.bind = "127.0.0.1"
server.port = @PORT@
server.errorlog = "@FOLDER@/error.log"
server.modules = ("mod_accesslog")
accesslog.filename = "@FOLDER@/access.log"
accesslog.format = "%>s %b \"%{Range}i\" %U"
mimetype.assign = ("" => "application/octet-stream")
@INCLUDE@
)";

const char* const caddyTemplate = R"({
    admin off
    auto_https off
    storage file_system @FOLDER@/data
}
http://127.0.0.1:@PORT@ {
    bind 127.0.0.1
    root * @ROOT@
    file_server
    @INCLUDE@
    log {
        output file @FOLDER@/access.log
        format json
    }
}
)";

} // namespace

ApacheServer::ApacheServer(const std::string& root, const std::string& settings) {
    const std::string& own = folder().path();
    writeFile(own + "/httpd.conf",
              filled(apacheTemplate, {{"@FOLDER@", own},
                                      {"@ROOT@", root},
                                      {"@PORT@", std::to_string(port())},
                                      {"@INCLUDE@", included("Include @", settings)}}));
    start({"apache2", "-f", own + "/httpd.conf", "-DFOREGROUND"});
}

std::string ApacheServer::accessLog() const {
    return readFile(folder() / "access.log");
}

LighttpdServer::LighttpdServer(const std::string& root, const std::string& settings) {
    const std::string& own = folder().path();
    writeFile(own + "/lighttpd.conf",
              filled(lighttpdTemplate, {{"@FOLDER@", own},
                                        {"@ROOT@", root},
                                        {"@PORT@", std::to_string(port())},
                                        {"@INCLUDE@", included("include \"@\"", settings)}}));
    start({"lighttpd", "-D", "-f", own + "/lighttpd.conf"});
}

std::string LighttpdServer::accessLog() const {
    return readFile(folder() / "access.log");
}

CaddyServer::CaddyServer(const std::string& root, const std::string& settings) {
    const std::string& own = folder().path();
    writeFile(own + "/Caddyfile",
              filled(caddyTemplate, {{"@FOLDER@", own},
                                     {"@ROOT@", root},
                                     {"@PORT@", std::to_string(port())},
                                     {"@INCLUDE@", included("import @", settings)}}));
    // Whatever else it would keep goes into its own folder, not the user's.
    start({"env", "HOME=" + own, "XDG_DATA_HOME=" + own + "/data",
           "XDG_CONFIG_HOME=" + own + "/config", "caddy", "run", "--config", own + "/Caddyfile",
           "--adapter", "caddyfile"});
}

std::string CaddyServer::accessLog() const {
    return readFile(folder() / "access.log");
}

} // namespace testsupport
