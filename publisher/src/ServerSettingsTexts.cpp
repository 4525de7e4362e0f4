#include "ServerSettingsTexts.h"

namespace publisher {

namespace {

// @VERSION_PATH@ and @PACKAGE_PATH@ are the served paths, @VERSION_PATTERN@
// and @PACKAGE_PATTERN@ the same as regular expressions, @LIFETIME@ the
// seconds a cache may keep the version answer.

const char* const nginxText =
    R"(# Morvane's update files, for nginx: include this file inside the server
# block that serves them (include /path/to/server-settings/nginx.conf;).
# The version answer: no cache keeps it longer than @LIFETIME@ seconds.
location = @VERSION_PATH@ {
    default_type text/plain;
    expires @LIFETIME@s;
    gzip off;
}
# The package: caches may keep it but ask whether it changed (by its ETag)
# before each use; byte ranges on, never compressed, so its ETag stays strong.
location = @PACKAGE_PATH@ {
    default_type application/zip;
    add_header Cache-Control "no-cache";
    etag on;
    gzip off;
}
)";

const char* const apacheText =
    R"(# Morvane's update files, for Apache httpd 2.4 with mod_headers loaded:
# Include this file in the server or virtual host that serves them.
# The version answer: served as it is (never run as a script), and no cache
# keeps it longer than @LIFETIME@ seconds.
<Location "@VERSION_PATH@">
    SetHandler None
    ForceType text/plain
    Header set Cache-Control "max-age=@LIFETIME@"
</Location>
# The package: caches may keep it but ask whether it changed (by its ETag)
# before each use; byte ranges on, never compressed, so its ETag stays strong.
<Location "@PACKAGE_PATH@">
    ForceType application/zip
    FileETag MTime Size
    MaxRanges default
    Header set Cache-Control "no-cache"
    <IfModule mod_deflate.c>
        SetEnv no-gzip 1
    </IfModule>
</Location>
)";

const char* const lighttpdText = R"(# Morvane's update files, for lighttpd 1.4: include this file in
# lighttpd.conf (include "/path/to/server-settings/lighttpd.conf").
# Byte ranges and strong ETags are lighttpd's defaults, set here again;
# the package is not among the types mod_deflate compresses by default.
server.modules += ("mod_setenv")
# lighttpd keeps what it read of a file, its bytes included, for the rest of
# the second: a release published within it would be served as a new answer
# before the old package. Each request reads the files as they are now.
server.stat-cache-engine := "disable"
# The version answer: no cache keeps it longer than @LIFETIME@ seconds.
$HTTP["url"] == "@VERSION_PATH@" {
    setenv.set-response-header = ("Cache-Control" => "max-age=@LIFETIME@")
}
# The package: caches may keep it but ask whether it changed (by its ETag)
# before each use.
$HTTP["url"] == "@PACKAGE_PATH@" {
    setenv.set-response-header = ("Cache-Control" => "no-cache")
    server.range-requests = "enable"
    static-file.etags = "enable"
}
)";

const char* const caddyText =
    R"(# Morvane's update files, for Caddy 2: import this file inside the site
# block that serves them (import /path/to/server-settings/Caddyfile).
# file_server answers byte ranges with a strong ETag; encode's default
# types leave the package uncompressed (keep it so if encode is used).
# The version answer: no cache keeps it longer than @LIFETIME@ seconds.
@morvaneVersion path @VERSION_PATH@
header @morvaneVersion Cache-Control "max-age=@LIFETIME@"
# The package: caches may keep it but ask whether it changed (by its ETag)
# before each use.
@morvanePackage path @PACKAGE_PATH@
header @morvanePackage Cache-Control "no-cache"
)";

const char* const varnishText =
    R"(# Morvane's update files, for Varnish 7: include this file in your VCL
# after the backend is declared (include "/path/to/server-settings/varnish.vcl";).
# The package asked by a range, as updaters ask for it (its end, its
# manifest, the files and chunks that changed, or all of it from byte 0):
# passed to the origin as asked, and its answer not kept. Fetching the whole
# package for a range would hold a range near its end until all before it
# had come, and any other request of it until that fetch ended: from a slow
# origin, longer than an updater waits (30 s).
sub vcl_recv {
    if (req.url == "@PACKAGE_PATH@" && req.method == "GET" && req.http.Range) {
        return (pass);
    }
}
sub vcl_backend_response {
    # The version answer: kept at most @LIFETIME@ seconds, or less when the
    # origin says so, and never served once that has passed.
    if (bereq.url == "@VERSION_PATH@") {
        if (beresp.ttl > @LIFETIME@s) {
            set beresp.ttl = @LIFETIME@s;
        }
        set beresp.grace = 0s;
    }
    # The package asked whole (as a browser does): kept, but each use asks
    # the origin first whether it changed (If-None-Match, If-Modified-Since).
    # A TTL of 0 would keep nothing to ask with, so it is a millisecond.
    if (bereq.url == "@PACKAGE_PATH@" && beresp.status == 200) {
        set beresp.ttl = 0.001s;
        set beresp.grace = 0s;
        set beresp.keep = 1d;
        return (deliver);
    }
}
)";

const char* const squidText =
    R"(# Morvane's update files, for Squid 5: include this file in squid.conf
# (include /path/to/server-settings/squid.conf) before your own
# refresh_pattern and range_offset_limit lines, since the first that
# matches applies.
# The version answer: kept at most a minute where the origin says nothing,
# and never longer than the origin's max-age (@LIFETIME@ seconds with the
# origin settings written beside this file).
refresh_pattern @VERSION_PATTERN@$ 0 0% 1
# The package: where Squid keeps it (asked for without a range, as a
# browser does), checked with the origin before each use. Updaters ask for
# it by ranges only (its end, its manifest, the files and chunks that
# changed, or all of it from byte 0); each is passed to the origin as asked
# and its answer is not kept, so an update costs the origin what it fetches.
# Fetching the whole package for a range (range_offset_limit none) would
# keep it only within maximum_object_size (4 MB by default) and, without a
# cache_dir, maximum_object_size_in_memory (512 KB), limits that hold for
# all Squid keeps: past them it fetches the whole package again for every
# range. And a range near the package's end would wait until all before it
# had come, longer than an updater waits (30 s) from a slow origin.
refresh_pattern @PACKAGE_PATTERN@$ 0 0% 0
acl morvanePackage urlpath_regex @PACKAGE_PATTERN@$
range_offset_limit 0 morvanePackage
)";

const char* const trafficServerCacheText =
    R"(# Morvane's update files, for Apache Traffic Server 9: add these lines to
# cache.config. They hold whatever the origin says: the version answer is
# fresh at most @LIFETIME@ seconds, and the package, where it is kept at all
# (a range of it, as updaters ask, is passed to the origin), is checked
# with the origin before each use.
url_regex=@VERSION_PATTERN@$ revalidate=@LIFETIME@s
url_regex=@PACKAGE_PATTERN@$ revalidate=0s
)";

} // namespace

const std::vector<ServerSettingsText>& serverSettingsTexts() {
    static const std::vector<ServerSettingsText> texts = {
        {"nginx.conf", "nginx", nginxText},
        {"apache2.conf", "Apache httpd", apacheText},
        {"lighttpd.conf", "lighttpd", lighttpdText},
        {"Caddyfile", "Caddy", caddyText},
        {"varnish.vcl", "Varnish", varnishText},
        {"squid.conf", "Squid", squidText},
        {"trafficserver-cache.config", "Apache Traffic Server", trafficServerCacheText},
    };
    return texts;
}

} // namespace publisher
