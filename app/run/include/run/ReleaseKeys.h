#pragma once

#include "app/Outcome.h"
#include "run/TrustRecord.h"
#include "run/UpdaterSettings.h"

#include "signature/KeysLine.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace updater {

// What the build trusts at the start: the root set, and with the one-key
// setting that key as the release key too (it is then its own root, one
// signature needed).
struct BuiltKeys {
    signature::RootSet roots;
    std::optional<signature::PublicKey> releaseKey;
};

// The keys a build was given, read; a failure (of number invalidPropertyValue)
// when a key is not an Ed25519 public key or the threshold does not fit.
Outcome<BuiltKeys> builtKeys(const KeySetting& setting);

// Why no release key was trusted for an answer, apart from the keys line's
// own verdict; each its own number within one range.
enum class KeysRefusal : std::int32_t {
    lineRefused = 0,     // the keys line's check refused it (keysVerdict() says how)
    noKeysLine = 1,      // none where one is needed
    trustUnreadable = 2, // the record of roots and serial cannot be read
    chainBroken = 3,     // a rotation of the root chain missing, refused, or past the limit
    trustNotKept = 4,    // the new roots or serial could not be written
};
inline constexpr std::int32_t keysRefused = platform::ErrorNumber::objectDefinedBase + 0x2c0;
inline constexpr std::int32_t keysRefusedEnd = keysRefused + 0x40;

// The refusal a failure of the release keys is; nothing for any other.
inline std::optional<KeysRefusal> keysRefusalOf(const Failure& failure) {
    const std::int32_t number = failure.error.number();
    if (number < keysRefused || number >= keysRefusedEnd) {
        return std::nullopt;
    }
    return static_cast<KeysRefusal>(number - keysRefused);
}

// The release keys a keyed updater trusts for one version answer. The
// answer's release line may carry a keys line; it is judged against the
// root set trusted now (the build's, or the one a rotation brought, as the
// record beside the installation keeps it), walking the publisher's chain
// of root rotations first when the line is signed under a later set. A
// trusted keys line names the release keys, and its serial (and new roots)
// are kept through the file seam before they are used. Without a keys
// line only the one-key build's key is trusted, and only until a keys line
// was ever taken.
class ReleaseKeys {
public:
    // The text of the chain's line that brings root set number, or nothing
    // when it cannot be fetched.
    using FetchRotation = std::function<std::optional<std::string>(std::uint64_t number)>;

    ReleaseKeys(BuiltKeys built, std::string recordPath);

    // now: the one reading of the clock the whole check uses.
    Outcome<std::vector<signature::PublicKey>> forAnswer(std::string_view answer, std::int64_t now,
                                                         const FetchRotation& fetch);

    // The last keys line's verdict, when one was judged.
    const std::optional<signature::KeysVerdict>& keysVerdict() const { return m_verdict; }
    // Of the last trusted keys line: that the clock is before it was made,
    // with both dates; empty otherwise.
    const std::string& clockNote() const { return m_clockNote; }

private:
    Outcome<std::optional<TrustRecord>> readRecord() const;
    Outcome<signature::RootSet> walkChain(signature::RootSet roots, std::uint64_t target,
                                          const FetchRotation& fetch) const;
    Outcome<void> keep(const TrustRecord& record) const;

    BuiltKeys m_built;
    std::string m_recordPath;
    std::optional<signature::KeysVerdict> m_verdict;
    std::string m_clockNote;
};

} // namespace updater
