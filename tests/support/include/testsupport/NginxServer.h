#pragma once

#include "testsupport/ServerProcess.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// One line of NginxServer's request log.
struct LoggedRequest {
    int status = 0;
    std::uint64_t bytes = 0; // of the body sent
    std::string range;       // "" when none was asked for
    std::string method;
    std::string path;
};

// The lines of a request log, each that reads as one; the rest is left out.
std::vector<LoggedRequest> loggedRequests(const std::string& log);

// nginx serving the files under root, with a generated configuration. It
// answers a range request with 206, or, with ranges refused, with the whole
// file (200), as a server or cache without ranges does. A rate limit (bytes
// per second per connection; 0 for none) makes it behave like a real link. A
// settings file (the publisher's for nginx) is included in its server block;
// empty for nginx's defaults.
class NginxServer : public ServerProcess {
public:
    enum class Ranges { served, refused };

    struct Options {
        std::uint64_t limitRate = 0;
        std::string settings;
        Ranges ranges = Ranges::served;
        // HTTPS with this certificate and key (PEM files); plain HTTP
        // without them.
        std::string certificate;
        std::string certificateKey;
        // Listens on [::1] as well, on the same port.
        bool ipv6 = false;
        // Answers every request with a permanent redirect to this address
        // followed by the request's path, serving nothing itself.
        std::string redirectTo;
    };

    explicit NginxServer(const std::string& root, std::uint64_t limitRate = 0,
                         const std::string& settings = {}, Ranges ranges = Ranges::served);
    NginxServer(const std::string& root, const Options& options);

    // "https://127.0.0.1:port" or "http://127.0.0.1:port".
    std::string url() const;

    // One line per request: status, body bytes sent, the Range asked for.
    // Complete once the server is stopped.
    std::string accessLog() const;
    // The same with the method and the path asked for after the Range:
    // 'STATUS BYTES "RANGE" METHOD PATH'.
    std::string requestLog() const;
    std::vector<LoggedRequest> requests() const { return loggedRequests(requestLog()); }

private:
    bool m_secure = false;
};

} // namespace testsupport
