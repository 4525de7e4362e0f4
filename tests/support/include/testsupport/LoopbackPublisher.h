#pragma once

#include "testsupport/LoopbackServer.h"

#include <string>

namespace testsupport {

// The publisher's two addresses on loopback: the version text and the
// package, read from packagePath at each request.
class LoopbackPublisher {
public:
    LoopbackPublisher(std::string version, std::string packagePath);

    std::string host() const { return m_server.host(); }
    // The status the package is served with (an error page, say).
    void setPackageStatus(int status) { m_packageStatus = status; }
    // How many requests asked for the package.
    std::size_t packageRequests() const;

private:
    std::string m_version;
    std::string m_packagePath;
    int m_packageStatus = 200;
    LoopbackServer m_server;
};

} // namespace testsupport
