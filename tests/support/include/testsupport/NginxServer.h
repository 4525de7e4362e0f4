#pragma once

#include "testsupport/ServerProcess.h"

#include <cstdint>
#include <string>

namespace testsupport {

// nginx serving the files under root, with a generated configuration. It
// answers a range request with 206, or, with ranges refused, with the whole
// file (200), as a server or cache without ranges does. A rate limit (bytes
// per second per connection; 0 for none) makes it behave like a real link. A
// settings file (the publisher's for nginx) is included in its server block;
// empty for nginx's defaults.
class NginxServer : public ServerProcess {
public:
    enum class Ranges { served, refused };

    explicit NginxServer(const std::string& root, std::uint64_t limitRate = 0,
                         const std::string& settings = {}, Ranges ranges = Ranges::served);

    // One line per request: status, body bytes sent, the Range asked for.
    // Complete once the server is stopped.
    std::string accessLog() const;
};

} // namespace testsupport
