#pragma once

#include <ostream>
#include <string>

namespace platform {
class ConsoleToolkit;
}

namespace publisher {

// What the publisher asks for: a release folder, the version it carries,
// the folder the web server serves and, to sign the package, the file of
// the publisher's Ed25519 private key (empty: the package is not signed).
struct PublishRequest {
    std::string releaseFolder;
    std::string version;
    std::string outputFolder;
    std::string privateKeyFile;
};

// Publishes a release: builds clientfiles/morvane/morvane.zip under the
// output folder (with an updater.ini written for the release when it brings
// none), signs it when a key is given and checks the signature as the
// updater will, tests it through the unzip library the updater uses, and
// only then replaces the served package and, after it,
// clientfiles/morvane/version.php.
// Reports what it did on report. Anything wrong is raised as PublishError,
// and then the served files are as they were.
void publish(const PublishRequest& request, platform::ConsoleToolkit& toolkit,
             std::ostream& report);

} // namespace publisher
