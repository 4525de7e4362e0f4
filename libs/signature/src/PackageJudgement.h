#pragma once

#include "signature/ArchiveEnd.h"
#include "signature/PackageCheck.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace signature {

// The SHA-512 of a package's first signedLength bytes.
using SignedDigest = std::function<ArchiveDigest(std::uint64_t signedLength)>;

// The package check on a package whose end is read and whose digest can be
// had, from its file or from what arrived: digestOfSigned is asked only
// once the signature is known to be by key.
PackageCheck judgePackage(const ArchiveEnd& end, const PublicKey& key,
                          std::string_view offeredVersion, const SignedDigest& digestOfSigned);

} // namespace signature
