#pragma once

#include "signature/ReleaseLine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace signature {
class SigningKey;
}

namespace publisher {

// The most days a signed version answer may be valid.
constexpr int mostValidDays = 3650;

// What a release line names of a package that carries a manifest: the
// manifest's SHA-256 and its directory's.
struct ManifestDigests {
    signature::ManifestDigest manifest{};
    signature::DirectoryDigest directory{};
};

// PublishError unless 1 <= days <= mostValidDays.
void requireValidDays(int days);

// The signed version answer: version, CR LF, the release line for the
// package (with its manifest's and directory's SHA-256 when it carries a
// manifest and they are to be named, and the fields
// a later tool added to the line it renews), valid for validDays from now,
// signed by key and read back as a keyed updater reads it. PublishError
// when it would not pass.
std::string signedVersionAnswer(const std::string& version,
                                const signature::PackageIdentity& package,
                                const std::optional<ManifestDigests>& manifest,
                                const signature::SigningKey& key, int validDays, std::int64_t now,
                                std::vector<std::pair<std::string, std::string>> laterFields = {});

} // namespace publisher
