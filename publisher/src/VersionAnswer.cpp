#include "VersionAnswer.h"

#include "publisher/PublishError.h"
#include "signature/PackageSigning.h"

namespace publisher {

void requireValidDays(int days) {
    if (days < 1 || days > mostValidDays) {
        throw PublishError("a signed version answer is valid for 1 to " +
                           std::to_string(mostValidDays) + " days, not " + std::to_string(days));
    }
}

std::string signedVersionAnswer(const std::string& version,
                                const signature::PackageIdentity& package,
                                const std::optional<ManifestDigests>& manifest,
                                const signature::SigningKey& key, int validDays, std::int64_t now,
                                std::vector<std::pair<std::string, std::string>> laterFields) {
    requireValidDays(validDays);
    constexpr std::int64_t secondsPerDay = 24 * 60 * 60;
    const signature::ReleaseLine line = signature::signRelease(
        version, package.size, package.sha512, now + validDays * secondsPerDay, key,
        manifest ? std::optional(manifest->manifest) : std::nullopt,
        manifest ? std::optional(manifest->directory) : std::nullopt, std::move(laterFields));
    const std::string answer = version + "\r\n" + signature::formatReleaseLine(line);
    const signature::AnswerCheck check =
        signature::checkVersionAnswer(answer, key.publicKey(), now);
    if (!check.verified()) {
        throw PublishError("the signed version answer does not pass the updater's check: " +
                           check.description);
    }
    return answer;
}

} // namespace publisher
