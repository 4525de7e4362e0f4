#pragma once

#include "signature/SignatureLine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace signature {

class SigningKey;

// The keys a root build trusts at the start: root public keys, how many of
// them must sign, and the number of this set in the publisher's chain of
// root sets (the set a build names is its first).
struct RootSet {
    std::uint64_t number = 1;
    std::vector<PublicKey> keys;
    std::uint32_t threshold = 1;
};

// Which release keys the publisher signs with now, certified by root keys
// held offline, as one line without a line end:
//
//   morvane-keys v1 serial=<n> rootset=<n> expires=<2027-12-08T00:00:00Z>
//     release=<base64>[,<base64>...] [roots=<base64>,... threshold=<n>]
//     [issued=<2026-12-08T00:00:00Z>]
//     root=<base64> ed25519=<base64> [root=<base64> ed25519=<base64> ...]
//
// (one line, one blank between fields). The signed part is the line up to,
// not including, the first " root=": fields NAME=VALUE as in the release
// line, each name at most once, a name a later tool adds read past (the
// signatures still cover it). issued, when there, is when it was made.
// serial grows with every new line; rootset is
// the number of the root set whose keys sign it; release names the release
// keys (distinct); roots and threshold, together, make the line a rotation
// to a new root set numbered rootset + 1, which must sign it too. Each
// signature names its root key.
struct KeysLine {
    std::uint64_t serial = 0;
    std::uint64_t rootSet = 1;
    std::int64_t expires = 0; // seconds since 1970-01-01 UTC
    std::vector<PublicKey> releaseKeys;
    // The new root set of a rotation.
    std::optional<RootSet> newRoots;
    std::vector<std::pair<std::string, std::string>> laterFields;
    std::vector<std::pair<PublicKey, SignatureBytes>> signatures;
    // When the publisher's tool made it, when it says.
    std::optional<std::int64_t> issued{};
};

// How many keys and signatures a line may name at most, so that a hostile
// one costs little to read and check.
inline constexpr std::size_t mostKeysInALine = 32;

// "<base64>,<base64>,...": distinct public keys, at least one and at most
// mostKeysInALine; nothing when the text is not such a list.
std::optional<std::vector<PublicKey>> parseKeyList(std::string_view text);
std::string formatKeyList(const std::vector<PublicKey>& keys);

// How every keys line begins, whatever its form's version.
inline constexpr std::string_view keysLineStart = "morvane-keys ";

std::string keysSignedText(const KeysLine& line);
std::string formatKeysLine(const KeysLine& line);
// The line, or nothing with the reason in why.
std::optional<KeysLine> parseKeysLine(std::string_view text, std::string& why);

// The line's signed part signed by each of roots, in their order, its
// earlier signatures replaced.
void signKeysLine(KeysLine& line, const std::vector<const SigningKey*>& roots);

// How far a clock may be off before an expiry counts: a line that expired
// less than this ago is still taken.
inline constexpr std::int64_t expirySlackSeconds = 10 * 60;

// Why a keys line was trusted or not, most basic cause first.
enum class KeysVerdict {
    trusted,        // enough distinct roots signed it, unexpired, not older
    malformed,      // it cannot be read
    otherRootSet,   // signed under a root set this check was not given
    belowThreshold, // fewer valid signatures by distinct roots than needed
    newRootsShort,  // a rotation the new root set does not sign enough
    replayed,       // its serial is below one taken before
    expired,        // valid only until before now (less the slack)
};

struct KeysCheck {
    KeysVerdict verdict = KeysVerdict::malformed;
    // Why, in plain words, for the log.
    std::string description;
    std::optional<KeysLine> line;
    // For the log, of a trusted line: the clock is further behind than the
    // slack, before the line was made (with both dates); empty otherwise.
    std::string clockNote{};

    bool trusted() const { return verdict == KeysVerdict::trusted; }
};

// Checks a keys line against the root set trusted now, the highest serial
// taken before and the time now (seconds since 1970-01-01 UTC). A rotation
// must also be signed by the threshold of the set it brings.
KeysCheck checkKeysLine(std::string_view text, const RootSet& roots, std::uint64_t highestSerial,
                        std::int64_t now);

// A line of the chain of root sets a publisher serves beside the answer: a
// rotation from roots to the next set, signed by the threshold of both.
// Neither its expiry nor its serial counts, for an updater built years ago
// must still walk the chain; the current keys line then holds them.
KeysCheck checkRotation(std::string_view text, const RootSet& roots);

// The root set a trusted rotation brings.
RootSet rootsAfter(const KeysLine& rotation);

// How many rotations an updater walks at most to catch up, so that a
// hostile chain costs no more than that.
inline constexpr std::uint64_t longestRootChain = 1024;

} // namespace signature
