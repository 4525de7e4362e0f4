#pragma once

#include "app/VersionCheck.h"

#include <functional>
#include <string>

namespace updater {

// The publisher's signature on the downloaded package. An updater built
// without the publisher's key checks nothing, as it always did; with it,
// a package that does not carry the publisher's signature for the version
// just offered, or is signed for a version not newer than the installed one
// (an old release served again), is refused with platform::Error (the
// description says which check it failed).
class PackageSignatureCheck {
public:
    // publisherKey: base64 of the Ed25519 public key, or empty. packagePath
    // and the versions are asked when the check runs.
    PackageSignatureCheck(std::string publisherKey, std::function<std::string()> packagePath,
                          const VersionCheck& versions);

    void check() const;

private:
    std::string m_publisherKey;
    std::function<std::string()> m_packagePath;
    const VersionCheck& m_versions;
};

} // namespace updater
