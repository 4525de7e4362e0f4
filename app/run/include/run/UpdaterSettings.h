#pragma once

#include <string>

namespace updater {

// Where the updater runs and which publisher it asks. The program takes the
// hosts and the key fixed at build time and the folder of its own executable.
struct UpdaterSettings {
    std::string installFolder; // no trailing "/"
    std::string versionHost;   // host or host:port of the version endpoint
    std::string packageHost;   // host or host:port of the package server
    // The publisher's Ed25519 public key as base64; when set, a package is
    // installed only with the publisher's signature for the offered version.
    std::string packageKey;
};

} // namespace updater
