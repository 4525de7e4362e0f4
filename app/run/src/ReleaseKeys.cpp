#include "run/ReleaseKeys.h"

#include "app/SourceLabels.h"

#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "fileio/Writing.h"
#include "signature/ReleaseLine.h"

#include <cerrno>
#include <utility>

namespace updater {

namespace {

Failure refusal(KeysRefusal why, std::string description) {
    return {platform::Error(keysRefused + static_cast<std::int32_t>(why), sources::updateRun,
                            std::move(description))};
}

} // namespace

Outcome<BuiltKeys> builtKeys(const KeySetting& setting) {
    const auto unusable = [](const std::string& what) {
        return Failure{platform::Error(platform::ErrorNumber::invalidPropertyValue,
                                       sources::updateRun,
                                       what + ", so no version answer can be checked")};
    };
    if (setting.rootKeys.empty()) {
        const auto key = signature::publicKeyFromBase64(setting.packageKey);
        if (!key) {
            return unusable("the publisher's key this updater was built with is not an Ed25519 "
                            "public key");
        }
        return BuiltKeys{{1, {*key}, 1}, *key};
    }
    auto roots = signature::parseKeyList(setting.rootKeys);
    if (!roots || setting.rootThreshold == 0 || setting.rootThreshold > roots->size()) {
        return unusable("the root keys this updater was built with are not distinct Ed25519 "
                        "public keys with a threshold from 1 to their number");
    }
    return BuiltKeys{{1, std::move(*roots), setting.rootThreshold}, std::nullopt};
}

ReleaseKeys::ReleaseKeys(BuiltKeys built, std::string recordPath)
    : m_built(std::move(built)), m_recordPath(std::move(recordPath)) {}

Outcome<std::vector<signature::PublicKey>>
ReleaseKeys::forAnswer(std::string_view answer, std::int64_t now, const FetchRotation& fetch) {
    m_verdict.reset();
    m_clockNote.clear();
    const Outcome<std::optional<TrustRecord>> record = readRecord();
    if (!record) {
        return record.failure();
    }
    TrustRecord trust = record.value().value_or(TrustRecord{m_built.roots, 0});
    const std::optional<std::string> keysText = signature::carriedKeysLine(answer);
    if (!keysText) {
        // The one key, while no keys line has moved the trust on.
        if (m_built.releaseKey && !record.value()) {
            return std::vector{*m_built.releaseKey};
        }
        return refusal(KeysRefusal::noKeysLine,
                       "the version answer carries no keys line, and this updater trusts only "
                       "release keys its root keys certify");
    }
    std::string why;
    const auto unverified = signature::parseKeysLine(*keysText, why);
    if (unverified && unverified->rootSet > trust.roots.number) {
        Outcome<signature::RootSet> walked = walkChain(trust.roots, unverified->rootSet, fetch);
        if (!walked) {
            return walked.failure();
        }
        trust.roots = std::move(walked.value());
    }
    signature::KeysCheck check =
        signature::checkKeysLine(*keysText, trust.roots, trust.serial, now);
    m_verdict = check.verdict;
    m_clockNote = check.clockNote;
    if (!check.trusted()) {
        return refusal(KeysRefusal::lineRefused, std::move(check.description));
    }
    const bool moved = check.line->serial > trust.serial || !record.value() ||
                       record.value()->roots.number != trust.roots.number;
    trust.serial = check.line->serial;
    if (moved) {
        if (Outcome<void> kept = keep(trust); !kept) {
            return kept.failure();
        }
    }
    return std::move(check.line->releaseKeys);
}

Outcome<std::optional<TrustRecord>> ReleaseKeys::readRecord() const {
    std::string text;
    if (const int error = fileio::readWholeFile(m_recordPath, text)) {
        if (error == ENOENT) {
            return std::optional<TrustRecord>();
        }
        return refusal(KeysRefusal::trustUnreadable,
                       "cannot read " + m_recordPath + ": " + fileio::systemReason(error));
    }
    auto record = parseTrustRecord(text);
    if (!record) {
        return refusal(KeysRefusal::trustUnreadable,
                       m_recordPath + " is not the record of the keys this updater trusts; "
                                      "restore it from a backup of the installation");
    }
    return std::optional<TrustRecord>(std::move(*record));
}

Outcome<signature::RootSet> ReleaseKeys::walkChain(signature::RootSet roots, std::uint64_t target,
                                                   const FetchRotation& fetch) const {
    if (target - roots.number > signature::longestRootChain) {
        return refusal(KeysRefusal::chainBroken,
                       "the keys line is signed under root set " + std::to_string(target) +
                           ", more than " + std::to_string(signature::longestRootChain) +
                           " rotations after root set " + std::to_string(roots.number) +
                           " this updater trusts");
    }
    while (roots.number < target) {
        const std::uint64_t next = roots.number + 1;
        const std::optional<std::string> text = fetch(next);
        if (!text) {
            return refusal(KeysRefusal::chainBroken, "the root chain's line for root set " +
                                                         std::to_string(next) +
                                                         " could not be fetched");
        }
        const signature::KeysCheck step = signature::checkRotation(*text, roots);
        if (!step.trusted()) {
            return refusal(KeysRefusal::chainBroken, "the root chain's line for root set " +
                                                         std::to_string(next) +
                                                         " is refused: " + step.description);
        }
        roots = signature::rootsAfter(*step.line);
    }
    return roots;
}

// Replaced whole, so that a cut leaves the old record or the new one.
Outcome<void> ReleaseKeys::keep(const TrustRecord& record) const {
    if (const int error =
            fileio::replaceFile(m_recordPath, formatTrustRecord(record) + "\n", 0644)) {
        return refusal(KeysRefusal::trustNotKept,
                       "cannot write " + m_recordPath + ": " + fileio::systemReason(error));
    }
    return {};
}

} // namespace updater
