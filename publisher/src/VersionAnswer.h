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

// PublishError unless 1 <= days <= mostValidDays.
void requireValidDays(int days);

// The signed version answer: version, CR LF, the release line for the
// package (with its manifest's SHA-256 when it carries one, and the fields
// a later tool added to the line it renews), valid for validDays from now,
// signed by key and read back as a keyed updater reads it. PublishError
// when it would not pass.
std::string signedVersionAnswer(const std::string& version,
                                const signature::PackageIdentity& package,
                                const std::optional<signature::ManifestDigest>& manifest,
                                const signature::SigningKey& key, int validDays, std::int64_t now,
                                std::vector<std::pair<std::string, std::string>> laterFields = {});

} // namespace publisher
