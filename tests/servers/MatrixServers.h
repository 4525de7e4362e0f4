#pragma once

#include "testsupport/ServerProcess.h"

#include <string>

// The web servers and caches publishers serve from, each started on a
// loopback port as an ordinary process with a configuration written into its
// own folder, and stopped when the object goes away. Each one's access log
// gives, a line a request, the status, the bytes sent and the Range asked
// for; complete once the server is stopped.

// Origins serving the files under root.
class ApacheServer : public testsupport::ServerProcess {
public:
    explicit ApacheServer(const std::string& root);
    std::string accessLog() const;
};

class LighttpdServer : public testsupport::ServerProcess {
public:
    explicit LighttpdServer(const std::string& root);
    std::string accessLog() const;
};

// Its log is one JSON object a request, the headers of both sides included.
class CaddyServer : public testsupport::ServerProcess {
public:
    explicit CaddyServer(const std::string& root);
    std::string accessLog() const;
};

// Caches in front of an origin on originPort, which keep what they may by
// their own defaults. Varnish keeps its log in memory only: what it did is
// seen at the origin.
class VarnishCache : public testsupport::ServerProcess {
public:
    explicit VarnishCache(int originPort);
    std::string accessLog() const { return {}; }
};

class SquidCache : public testsupport::ServerProcess {
public:
    explicit SquidCache(int originPort);
    ~SquidCache();
    std::string accessLog() const;
};

class TrafficServerCache : public testsupport::ServerProcess {
public:
    explicit TrafficServerCache(int originPort);
    std::string accessLog() const;
};
