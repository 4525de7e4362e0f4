#include "signature/KeysLine.h"

#include "LineFields.h"

#include "signature/Base64.h"
#include "signature/PackageCheck.h"
#include "signature/PackageSigning.h"
#include "signature/ReleaseLine.h"

#include <algorithm>
#include <set>

namespace signature {

namespace {

constexpr std::string_view lineStart = "morvane-keys v1 ";
constexpr std::string_view rootField = " root=";
constexpr std::string_view signatureField = " ed25519=";

bool holds(const std::vector<PublicKey>& keys, const PublicKey& key) {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

} // namespace

std::optional<std::vector<PublicKey>> parseKeyList(std::string_view value) {
    std::vector<PublicKey> keys;
    for (std::size_t at = 0; at <= value.size();) {
        const std::size_t comma = std::min(value.find(',', at), value.size());
        const auto key = publicKeyFromBase64(value.substr(at, comma - at));
        if (!key || holds(keys, *key) || keys.size() == mostKeysInALine) {
            return std::nullopt;
        }
        keys.push_back(*key);
        at = comma + 1;
    }
    return keys;
}

std::string formatKeyList(const std::vector<PublicKey>& keys) {
    std::string text;
    for (const PublicKey& key : keys) {
        text += (text.empty() ? "" : ",") + base64Of(key);
    }
    return text;
}

namespace {

// One known field into the line, or false with the reason.
bool readKnown(std::string_view name, std::string_view value, KeysLine& line,
               std::optional<std::uint64_t>& threshold, std::string& why) {
    if (name == "serial" || name == "rootset" || name == "threshold") {
        const auto number = numberOf(value);
        if (!number || (name != "serial" && *number == 0)) {
            why = "its " + std::string(name) + " is not a number" +
                  (name == "serial" ? "" : " from 1 on");
            return false;
        }
        (name == "serial" ? line.serial : name == "rootset" ? line.rootSet : *threshold) = *number;
        return true;
    }
    if (name == "expires" || name == "issued") {
        const auto time = parseUtcTime(value);
        if (!time) {
            why = "its " + std::string(name) + " is no time such as 2027-12-08T00:00:00Z";
            return false;
        }
        (name == "expires" ? line.expires : line.issued.emplace()) = *time;
        return true;
    }
    auto keys = parseKeyList(value);
    if (!keys) {
        why = "its " + std::string(name) + " are not distinct public keys of 32 bytes (at most " +
              std::to_string(mostKeysInALine) + ")";
        return false;
    }
    if (name == "release") {
        line.releaseKeys = std::move(*keys);
    } else {
        line.newRoots = RootSet{0, std::move(*keys), 0};
    }
    return true;
}

bool readSignedFields(std::string_view fields, KeysLine& line, std::string& why) {
    static const std::set<std::string_view> known = {"serial", "rootset",   "expires", "release",
                                                     "roots",  "threshold", "issued"};
    std::set<std::string, std::less<>> seen;
    std::optional<std::uint64_t> threshold = 0;
    const auto take = [&](std::string_view name, std::string_view value, std::string& reason) {
        if (!known.contains(name)) {
            line.laterFields.emplace_back(name, value);
            return true;
        }
        return readKnown(name, value, line, threshold, reason);
    };
    if (!readFields(fields, {"root", "ed25519"}, take, seen, why)) {
        return false;
    }
    for (const char* required : {"serial", "rootset", "expires", "release"}) {
        if (!seen.contains(required)) {
            why = std::string("it gives no ") + required;
            return false;
        }
    }
    if (seen.contains("roots") != seen.contains("threshold")) {
        why = "it gives new roots without their threshold, or a threshold without roots";
        return false;
    }
    if (line.newRoots) {
        if (*threshold > line.newRoots->keys.size()) {
            why = "its threshold is more than its new roots";
            return false;
        }
        line.newRoots->number = line.rootSet + 1;
        line.newRoots->threshold = static_cast<std::uint32_t>(*threshold);
    }
    return true;
}

// " root=<base64> ed25519=<base64>" as many times as signed, to the end.
bool readSignatures(std::string_view rest, KeysLine& line, std::string& why) {
    if (rest.ends_with(' ')) {
        why = "it does not end with a signature";
        return false;
    }
    while (!rest.empty()) {
        const auto key = takeField(rest, rootField.substr(1));
        const auto keyValue = key ? publicKeyFromBase64(*key) : std::nullopt;
        const auto signature = takeField(rest, signatureField.substr(1));
        const auto bytes = signature ? decodeBase64(*signature) : std::nullopt;
        if (!keyValue || !bytes || bytes->size() != signatureSize) {
            why = "its signatures are not each a root key of 32 bytes and a signature of 64";
            return false;
        }
        if (line.signatures.size() == mostKeysInALine) {
            why = "it carries more than " + std::to_string(mostKeysInALine) + " signatures";
            return false;
        }
        SignatureBytes signatureBytes{};
        std::copy(bytes->begin(), bytes->end(), signatureBytes.begin());
        line.signatures.emplace_back(*keyValue, signatureBytes);
    }
    return true;
}

// How many of keys signed signedText, each counted once; no more are
// checked once as many as needed are found.
std::size_t validSigners(const KeysLine& line, std::string_view signedText,
                         const std::vector<PublicKey>& keys, std::size_t needed) {
    std::vector<PublicKey> counted;
    for (const auto& [key, signature] : line.signatures) {
        if (counted.size() == needed) {
            break;
        }
        if (holds(keys, key) && !holds(counted, key) && isSignatureOf(key, signature, signedText)) {
            counted.push_back(key);
        }
    }
    return counted.size();
}

KeysCheck refused(KeysVerdict verdict, std::string description) {
    return KeysCheck{verdict, std::move(description), std::nullopt};
}

// What every keys line must show whatever it is for: readable, of the set
// given, signed by its threshold, and when it is a rotation (or must be
// one) by the new set's too.
KeysCheck checkSigned(std::string_view text, const RootSet& roots, bool mustRotate) {
    std::string why;
    auto line = parseKeysLine(text, why);
    if (!line) {
        return refused(KeysVerdict::malformed,
                       "the keys line cannot be read (" + why + "): " + quoted(text));
    }
    if (mustRotate && !line->newRoots) {
        return refused(KeysVerdict::malformed, "the root chain's line for root set " +
                                                   std::to_string(roots.number + 1) +
                                                   " brings no new roots");
    }
    if (line->rootSet != roots.number) {
        return refused(KeysVerdict::otherRootSet,
                       "the keys line is signed under root set " + std::to_string(line->rootSet) +
                           ", but this updater trusts root set " + std::to_string(roots.number));
    }
    const std::string_view signedText = text.substr(0, text.find(rootField));
    const std::size_t signers = validSigners(*line, signedText, roots.keys, roots.threshold);
    if (signers < roots.threshold) {
        return refused(KeysVerdict::belowThreshold,
                       "the keys line carries " + std::to_string(signers) +
                           " valid signatures by distinct root keys, and " +
                           std::to_string(roots.threshold) + " are needed");
    }
    if (line->newRoots) {
        const std::size_t newSigners =
            validSigners(*line, signedText, line->newRoots->keys, line->newRoots->threshold);
        if (newSigners < line->newRoots->threshold) {
            return refused(KeysVerdict::newRootsShort,
                           "the keys line brings root set " +
                               std::to_string(line->newRoots->number) + ", but only " +
                               std::to_string(newSigners) + " of its keys signed it, and " +
                               std::to_string(line->newRoots->threshold) + " are needed");
        }
    }
    return KeysCheck{KeysVerdict::trusted, "", std::move(line)};
}

} // namespace

std::string keysSignedText(const KeysLine& line) {
    std::string text = std::string(lineStart) + "serial=" + std::to_string(line.serial) +
                       " rootset=" + std::to_string(line.rootSet) +
                       " expires=" + formatUtcTime(line.expires) +
                       " release=" + formatKeyList(line.releaseKeys);
    if (line.newRoots) {
        text += " roots=" + formatKeyList(line.newRoots->keys) +
                " threshold=" + std::to_string(line.newRoots->threshold);
    }
    if (line.issued) {
        text += " issued=" + formatUtcTime(*line.issued);
    }
    for (const auto& [name, value] : line.laterFields) {
        text += " " + name + "=" + value;
    }
    return text;
}

std::string formatKeysLine(const KeysLine& line) {
    std::string text = keysSignedText(line);
    for (const auto& [key, signature] : line.signatures) {
        text += std::string(rootField) + base64Of(key) + std::string(signatureField) +
                encodeBase64(signature.data(), signature.size());
    }
    return text;
}

std::optional<KeysLine> parseKeysLine(std::string_view text, std::string& why) {
    if (!text.starts_with(lineStart)) {
        why = "it does not begin with \"" + std::string(lineStart) + "\"";
        return std::nullopt;
    }
    const std::size_t rootAt = text.find(rootField);
    if (rootAt == std::string_view::npos || rootAt < lineStart.size()) {
        why = "it carries no root key's signature";
        return std::nullopt;
    }
    KeysLine line;
    if (!readSignedFields(text.substr(lineStart.size(), rootAt - lineStart.size()), line, why) ||
        !readSignatures(text.substr(rootAt + 1), line, why)) {
        return std::nullopt;
    }
    return line;
}

void signKeysLine(KeysLine& line, const std::vector<const SigningKey*>& roots) {
    const std::string signedText = keysSignedText(line);
    line.signatures.clear();
    for (const SigningKey* root : roots) {
        line.signatures.emplace_back(root->publicKey(), root->sign(signedText));
    }
}

KeysCheck checkKeysLine(std::string_view text, const RootSet& roots, std::uint64_t highestSerial,
                        std::int64_t now) {
    KeysCheck check = checkSigned(text, roots, false);
    if (!check.trusted()) {
        return check;
    }
    const KeysLine& line = *check.line;
    if (line.serial < highestSerial) {
        return refused(KeysVerdict::replayed,
                       "the keys line has serial " + std::to_string(line.serial) +
                           ", older than serial " + std::to_string(highestSerial) +
                           " this updater took before (an earlier list served again?)");
    }
    if (line.expires < now - expirySlackSeconds) {
        return refused(KeysVerdict::expired,
                       "the keys line expired at " + formatUtcTime(line.expires) +
                           "; this computer's clock says " + formatUtcTime(now) +
                           " (if the clock is wrong, set it right; otherwise the publisher "
                           "has not renewed the keys line)");
    }
    if (line.issued && now < *line.issued - expirySlackSeconds) {
        check.clockNote = "this computer's clock says " + formatUtcTime(now) +
                          ", before the keys line was made at " + formatUtcTime(*line.issued) +
                          ": set the clock right, or expired answers and keys count as valid";
    }
    return check;
}

KeysCheck checkRotation(std::string_view text, const RootSet& roots) {
    return checkSigned(text, roots, true);
}

RootSet rootsAfter(const KeysLine& rotation) {
    return rotation.newRoots.value_or(RootSet{});
}

} // namespace signature
