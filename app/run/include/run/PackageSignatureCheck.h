#pragma once

#include "run/VersionCheck.h"
#include "signature/ArrivingPackage.h"

#include <functional>
#include <string>

namespace updater {

// The publisher's signature on the downloaded package. An updater built
// without the publisher's key checks nothing, as it always did; with it,
// a package that does not carry the publisher's signature for the version
// just offered is refused with platform::Error (the description says which
// check it failed). That the offered version is newer than the installed
// one is the run's to require, whichever way the release arrives.
class PackageSignatureCheck {
public:
    // publisherKey: base64 of the Ed25519 public key, or empty; arrived:
    // the package's bytes as they were downloaded, which the check does not
    // read from the disk again. Both are asked when the check runs.
    PackageSignatureCheck(std::string publisherKey,
                          std::function<const signature::ArrivingPackage&()> arrived,
                          const VersionCheck& versions);

    void check() const;

private:
    std::string m_publisherKey;
    std::function<const signature::ArrivingPackage&()> m_arrived;
    const VersionCheck& m_versions;
};

} // namespace updater
