#include "run/PackageSignatureCheck.h"

#include "app/SourceLabels.h"
#include "platform/Error.h"
#include "signature/PackageCheck.h"

#include <utility>

namespace updater {

PackageSignatureCheck::PackageSignatureCheck(std::string publisherKey)
    : m_publisherKey(std::move(publisherKey)) {}

void PackageSignatureCheck::check(const signature::ArrivingPackage& arrived,
                                  const std::string& offeredVersion) const {
    // Without a key the updater installs what it downloaded, as it always did.
    if (m_publisherKey.empty()) {
        return;
    }
    const std::string source = sources::packageSignature;
    const auto key = signature::publicKeyFromBase64(m_publisherKey);
    if (!key) {
        throw platform::Error(platform::ErrorNumber::invalidPropertyValue, source,
                              "the publisher's key this updater was built with is not an Ed25519 "
                              "public key, so no package can be checked");
    }
    const signature::PackageCheck check =
        platform::withOwnSource(source, [&] { return arrived.check(*key, offeredVersion); });
    if (!check.accepted()) {
        // The log line and the box say which check the package failed.
        throw platform::Error(platform::ErrorNumber::permissionDenied, source, check.description);
    }
}

} // namespace updater
