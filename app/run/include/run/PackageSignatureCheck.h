#pragma once

#include "signature/ArrivingPackage.h"
#include "signature/SignatureLine.h"

#include <string>
#include <vector>

namespace updater {

// The publisher's signature on the downloaded package. An updater built
// without a key checks nothing, as it always did; a keyed one refuses,
// with platform::Error (the description says which check it failed), a
// package that does not carry the signature of a release key the version
// check trusted for the version just offered. That the offered version is
// newer than the installed one is the run's to require, whichever way the
// release arrives.
class PackageSignatureCheck {
public:
    explicit PackageSignatureCheck(bool keyed);

    // arrived: the package's bytes as they were downloaded, which the check
    // does not read from the disk again; offeredVersion: what the version
    // answer offered, the version the package must be signed for;
    // releaseKeys: the keys the version check trusted the answer by.
    void check(const signature::ArrivingPackage& arrived, const std::string& offeredVersion,
               const std::vector<signature::PublicKey>& releaseKeys) const;

private:
    bool m_keyed;
};

} // namespace updater
