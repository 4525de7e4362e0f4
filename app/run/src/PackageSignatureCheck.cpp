#include "run/PackageSignatureCheck.h"

#include "app/SourceLabels.h"
#include "platform/Error.h"
#include "signature/PackageCheck.h"

#include <utility>

namespace updater {

PackageSignatureCheck::PackageSignatureCheck(bool keyed) : m_keyed(keyed) {}

void PackageSignatureCheck::check(const signature::ArrivingPackage& arrived,
                                  const std::string& offeredVersion,
                                  const std::vector<signature::PublicKey>& releaseKeys) const {
    // Without a key the updater installs what it downloaded, as it always did.
    if (!m_keyed) {
        return;
    }
    const std::string source = sources::packageSignature;
    if (releaseKeys.empty()) {
        throw platform::Error(platform::ErrorNumber::permissionDenied, source,
                              "the package was refused: no release key is trusted, so no "
                              "package can be checked");
    }
    // Signed by another key, the package is tried against each trusted one;
    // the first key's verdict tells why when none signed it.
    signature::PackageCheck first;
    for (std::size_t i = 0; i < releaseKeys.size(); ++i) {
        signature::PackageCheck check = platform::withOwnSource(
            source, [&] { return arrived.check(releaseKeys[i], offeredVersion); });
        if (check.accepted()) {
            return;
        }
        if (i == 0) {
            first = std::move(check);
        }
    }
    // The log line and the box say which check the package failed.
    throw platform::Error(platform::ErrorNumber::permissionDenied, source, first.description);
}

} // namespace updater
