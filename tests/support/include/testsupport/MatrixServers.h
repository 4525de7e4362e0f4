#pragma once

#include "testsupport/NginxServer.h"
#include "testsupport/PacedRelay.h"
#include "testsupport/ServerProcess.h"
#include "testsupport/SquidProcess.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace testsupport {

// The web servers and caches publishers serve from, each started on a
// loopback port as an ordinary process with a configuration written into its
// own folder, and stopped when the object goes away. Each one's access log
// gives, a line a request, the status, the bytes sent and the Range asked
// for; complete once the server is stopped. Each takes the path of a
// settings file to include in the configuration it writes (the publisher's
// settings for that program, see serverSettings), or empty for the
// program's own defaults.

// Origins serving the files under root.
class ApacheServer : public ServerProcess {
public:
    explicit ApacheServer(const std::string& root, const std::string& settings = {});
    std::string accessLog() const;
};

class LighttpdServer : public ServerProcess {
public:
    explicit LighttpdServer(const std::string& root, const std::string& settings = {});
    std::string accessLog() const;
};

// Its log is one JSON object a request, the headers of both sides included.
class CaddyServer : public ServerProcess {
public:
    explicit CaddyServer(const std::string& root, const std::string& settings = {});
    std::string accessLog() const;
};

// Caches in front of an origin on originPort, which keep what they may by
// their own defaults or by the settings. Varnish keeps its log in memory
// only: what it did is seen at the origin.
class VarnishCache : public ServerProcess {
public:
    explicit VarnishCache(int originPort, const std::string& settings = {});
    std::string accessLog() const { return {}; }
};

// Squid as Debian installs it: its configuration names only its port, its
// origin, its own folder and its log, so it keeps what a stock Squid keeps
// (no cache folder; in memory, objects up to 512 KB).
class SquidCache : public SquidProcess {
public:
    explicit SquidCache(int originPort, const std::string& settings = {});
};

class TrafficServerCache : public ServerProcess {
public:
    explicit TrafficServerCache(int originPort, const std::string& settings = {});
    std::string accessLog() const;
};

// How a cell's programs are configured: each with its own defaults, or with
// the publisher's settings for it included (the cache's and its origin's).
enum class Settings { defaults, recommended };

// The file of the publisher's settings for a program (nginx.conf, ...) that
// its tool wrote beside the served folder root; empty for the defaults.
std::string serverSettings(const std::string& root, Settings settings, const std::string& name);

// What serves the published folder: an origin alone or a cache in front of
// nginx. logs() stops it and gives every access log it kept.
class Served {
public:
    virtual ~Served() = default;
    virtual std::string host() const = 0;
    virtual std::string logs() = 0;
    // The link a cache fetches from its origin through, which counts what
    // the origin sent and can be held to a rate as a distant origin's is;
    // none for an origin alone.
    virtual PacedRelay* originLink() { return nullptr; }
};

template <class Origin> class OriginAlone : public Served {
public:
    OriginAlone(const std::string& root, const std::string& settings) : m_origin(root, settings) {}
    std::string host() const override { return m_origin.host(); }
    std::string logs() override {
        m_origin.stop();
        return m_origin.accessLog();
    }

private:
    Origin m_origin;
};

template <class Cache> class CachedNginx : public Served {
public:
    CachedNginx(const std::string& root, const std::string& originSettings,
                const std::string& cacheSettings)
        : m_origin(root, 0, originSettings), m_originLink(m_origin.port()),
          m_cache(m_originLink.port(), cacheSettings) {}
    std::string host() const override { return m_cache.host(); }
    std::string logs() override {
        m_cache.stop();
        m_origin.stop();
        return "cache:\n" + m_cache.accessLog() + "origin nginx (" +
               std::to_string(m_originLink.delivered()) + " bytes to the cache):\n" +
               m_origin.accessLog();
    }
    PacedRelay* originLink() override { return &m_originLink; }

private:
    NginxServer m_origin;
    PacedRelay m_originLink;
    Cache m_cache;
};

// One way of serving a folder, named for the reports; cache tells whether
// a cache stands in front of the origin.
struct Cell {
    const char* name;
    std::function<std::unique_ptr<Served>(const std::string& root, Settings settings)> serve;
    bool cache;
    // Whether it answers a single range request with that range (206).
    bool servesRanges = true;
};

// A cell served through a relay that carries the updater's connections to
// it and counts what they bring back; before a cache, it watches the cache's
// link to its origin.
class ServedThroughRelay {
public:
    ServedThroughRelay(const Cell& cell, const std::string& root, std::uint64_t rate = 0,
                       Settings settings = Settings::recommended)
        : m_served(cell.serve(root, settings)), m_relay(portOf(m_served->host()), rate) {
        if (const PacedRelay* origin = m_served->originLink()) {
            m_relay.watchOrigin(*origin);
        }
    }

    std::string host() const { return m_relay.host(); }
    PacedRelay& relay() { return m_relay; }
    PacedRelay* originLink() { return m_served->originLink(); }
    std::string logs() { return m_served->logs(); }

private:
    static int portOf(const std::string& host) {
        return std::stoi(host.substr(host.rfind(':') + 1));
    }

    std::unique_ptr<Served> m_served;
    PacedRelay m_relay;
};

// nginx, Apache, lighttpd and Caddy alone; Varnish, Squid and Traffic
// Server each in front of nginx; nginx with ranges refused, answering every
// range request with the whole file, as some servers and caches do.
const std::vector<Cell>& matrixCells();
// The cells with a cache in front of nginx.
std::vector<Cell> cacheCells();

// A failing case names its cell, not the bytes of the function.
inline void PrintTo(const Cell& cell, std::ostream* out) {
    *out << cell.name;
}

} // namespace testsupport
