#pragma once

#include <chrono>
#include <string>

// Where the updater runs and which publisher it asks. The program takes the
// hosts fixed at build time and the folder of its own executable.
struct UpdaterSettings {
    std::string installFolder; // no trailing "/"
    std::string versionHost;   // host or host:port of the version endpoint
    std::string packageHost;   // host or host:port of the package server
    // How long the package server may stay silent before the download fails.
    std::chrono::seconds downloadSilenceLimit{30};
};
