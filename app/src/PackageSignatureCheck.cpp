#include "app/PackageSignatureCheck.h"

#include "platform/Error.h"
#include "signature/PackageCheck.h"

#include <utility>

namespace updater {

PackageSignatureCheck::PackageSignatureCheck(std::string publisherKey,
                                             std::function<std::string()> packagePath,
                                             std::function<std::string()> offeredVersion)
    : m_publisherKey(std::move(publisherKey)), m_packagePath(std::move(packagePath)),
      m_offeredVersion(std::move(offeredVersion)) {}

void PackageSignatureCheck::check() const {
    // Without a key the updater installs what it downloaded, as it always did.
    if (m_publisherKey.empty()) {
        return;
    }
    const std::string source = "frmUpdater::checkPackageSignature";
    const auto key = signature::publicKeyFromBase64(m_publisherKey);
    if (!key) {
        throw platform::Error(platform::ErrorNumber::invalidPropertyValue, source,
                              "the publisher's key this updater was built with is not an Ed25519 "
                              "public key, so no package can be checked");
    }
    const signature::PackageCheck check = platform::withOwnSource(
        source, [&] { return signature::checkPackage(m_packagePath(), *key, m_offeredVersion()); });
    if (!check.accepted()) {
        // The log line and the box say which check the package failed.
        throw platform::Error(platform::ErrorNumber::permissionDenied, source, check.description);
    }
}

} // namespace updater
