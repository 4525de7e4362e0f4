#include "app/frmUpdater.h"

#include "platform/Error.h"
#include "signature/PackageCheck.h"

void frmUpdater::checkPackageSignature() {
    // Without a key the updater installs what it downloaded, as it always did.
    if (m_settings.packageKey.empty()) {
        return;
    }
    const std::string source = "frmUpdater::checkPackageSignature";
    const auto key = signature::publicKeyFromBase64(m_settings.packageKey);
    if (!key) {
        throw platform::Error(platform::ErrorNumber::invalidPropertyValue, source,
                              "the publisher's key this updater was built with is not an Ed25519 "
                              "public key, so no package can be checked");
    }
    const signature::PackageCheck check = platform::withOwnSource(source, [&] {
        return signature::checkPackage(fso().resolve(m_paths.packageFile()), *key,
                                       m_versionCheck.offeredVersion());
    });
    if (!check.accepted()) {
        // The log line and the box say which check the package failed.
        throw platform::Error(platform::ErrorNumber::permissionDenied, source, check.description);
    }
}
