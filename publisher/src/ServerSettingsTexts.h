#pragma once

#include <vector>

namespace publisher {

// One web server's or cache's settings for serving the update files: the
// name of the file written, whose settings they are, and the text with the
// served paths and the answer's lifetime still to fill in.
struct ServerSettingsText {
    const char* fileName;
    const char* server;
    const char* text;
};

// nginx, Apache httpd, lighttpd and Caddy as origins; Varnish, Squid and
// Apache Traffic Server as caches.
const std::vector<ServerSettingsText>& serverSettingsTexts();

} // namespace publisher
