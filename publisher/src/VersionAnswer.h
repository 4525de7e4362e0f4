#pragma once

#include "signature/ReleaseLine.h"

#include <cstdint>
#include <string>

namespace signature {
class SigningKey;
}

namespace publisher {

// The most days a signed version answer may be valid.
constexpr int mostValidDays = 3650;

// PublishError unless 1 <= days <= mostValidDays.
void requireValidDays(int days);

// The signed version answer: version, CR LF, the release line for the
// package, valid for validDays from now, signed by key and read back as a
// keyed updater reads it. PublishError when it would not pass.
std::string signedVersionAnswer(const std::string& version,
                                const signature::PackageIdentity& package,
                                const signature::SigningKey& key, int validDays, std::int64_t now);

} // namespace publisher
