#pragma once

#include "signature/ArrivingPackage.h"

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
    // publisherKey: base64 of the Ed25519 public key, or empty.
    explicit PackageSignatureCheck(std::string publisherKey);

    // arrived: the package's bytes as they were downloaded, which the check
    // does not read from the disk again; offeredVersion: what the version
    // answer offered, the version the package must be signed for.
    void check(const signature::ArrivingPackage& arrived, const std::string& offeredVersion) const;

private:
    std::string m_publisherKey;
};

} // namespace updater
