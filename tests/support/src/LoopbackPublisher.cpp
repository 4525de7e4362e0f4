#include "testsupport/LoopbackPublisher.h"

#include "testsupport/TempDir.h"

#include <utility>

namespace testsupport {

LoopbackPublisher::LoopbackPublisher(std::string version, std::string packagePath)
    : m_version(std::move(version)), m_packagePath(std::move(packagePath)) {
    m_server.server().Get("/clientfiles/morvane/version.php",
                          [this](const httplib::Request&, httplib::Response& res) {
                              res.set_content(m_version, "text/plain");
                          });
    m_server.server().Get("/clientfiles/morvane/morvane.zip",
                          [this](const httplib::Request&, httplib::Response& res) {
                              res.status = m_packageStatus;
                              res.set_content(readFile(m_packagePath), "application/zip");
                          });
    m_server.start();
}

std::size_t LoopbackPublisher::packageRequests() const {
    std::size_t count = 0;
    for (const ReceivedRequest& request : m_server.requests()) {
        count += request.path.ends_with("/morvane.zip") ? 1 : 0;
    }
    return count;
}

} // namespace testsupport
