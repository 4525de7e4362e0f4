#pragma once

#include "signature/SignatureLine.h"

#include <string>
#include <string_view>

namespace signature {

// Why a package was accepted or refused, most basic cause first.
enum class PackageVerdict {
    signedForOffer, // signed by the key for the offered version
    notAnArchive,   // no zip end record at the end of the file
    dataAfterEnd,   // bytes follow the archive's comment
    unsigned_,      // the comment is not a signature line
    malformedLine,  // a signature line that cannot be read
    otherKey,       // signed by a key other than the publisher's
    badSignature,   // by the publisher's key, but not over these bytes
    otherVersion,   // a good signature for another version
};

struct PackageCheck {
    PackageVerdict verdict = PackageVerdict::notAnArchive;
    // For the administrator: which of the above, in the package's terms.
    std::string description;

    bool accepted() const { return verdict == PackageVerdict::signedForOffer; }
};

// Checks the package file at path against the publisher's key and the
// version the version endpoint offered. Throws SignatureError when the
// file cannot be read.
PackageCheck checkPackage(const std::string& path, const PublicKey& key,
                          std::string_view offeredVersion);

// Whether signature is key's signature of message (Ed25519).
bool isSignatureOf(const PublicKey& key, const SignatureBytes& signature, std::string_view message);

} // namespace signature
