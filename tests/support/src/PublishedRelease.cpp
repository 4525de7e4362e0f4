#include "testsupport/PublishedRelease.h"

#include "testsupport/ChildProcess.h"
#include "testsupport/TempDir.h"

#include <chrono>
#include <stdexcept>

namespace testsupport {

void publishRelease(const std::string& tool, const PublisherKey& key, const std::string& release,
                    const std::string& version, const std::string& output) {
    const TempDir said;
    ChildProcess publisher({tool, "--key", key.privateKeyFile, release, version, output},
                           said / "publish.out");
    if (publisher.exitStatusWithin(std::chrono::seconds(120)) != 0) {
        throw std::runtime_error("publishing " + release + " failed:\n" +
                                 readFile(said / "publish.out"));
    }
}

} // namespace testsupport
