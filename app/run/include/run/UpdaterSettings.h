#pragma once

#include "app/InstallationPaths.h"

#include <cstdint>
#include <string>
#include <vector>

namespace updater {

// How the build was keyed: with the one publisher's key, with root keys
// and how many of them must sign, or not at all.
struct KeySetting {
    // The publisher's Ed25519 public key as base64.
    std::string packageKey;
    // Root public keys as base64, comma-separated.
    std::string rootKeys{};
    std::uint32_t rootThreshold = 0;

    bool keyed() const { return !packageKey.empty() || !rootKeys.empty(); }
};

// Where the updater runs and which publisher it asks. The program takes the
// hosts and the key fixed at build time and the folder of its own executable.
struct UpdaterSettings {
    std::string installFolder; // no trailing "/"
    // host or host:port of the version endpoint and of the package server,
    // or either with its scheme ("https://host:port").
    std::string versionHost;
    std::string packageHost;
    // The publisher's Ed25519 public key as base64; when set, a package is
    // installed only with the publisher's signature for the offered version.
    std::string packageKey;
    // Instead of one key: root public keys as base64, comma-separated, and
    // how many of them must sign the keys line that names the release keys.
    std::string rootKeys{};
    std::uint32_t rootThreshold = 0;
    // A PEM file of certificate authorities trusted besides the system's
    // store; empty: none.
    std::string authorityBundle{};

    KeySetting keys() const { return {packageKey, rootKeys, rootThreshold}; }
    // The files of further authorities: the build's, then the one an
    // administrator puts beside the updater.
    std::vector<std::string> authorityFiles() const {
        std::vector<std::string> files;
        if (!authorityBundle.empty()) {
            files.push_back(authorityBundle);
        }
        files.push_back(InstallationPaths(installFolder).authorityFile());
        return files;
    }
};

} // namespace updater
