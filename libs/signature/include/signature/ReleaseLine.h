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

using PackageDigest = std::array<std::uint8_t, digestSize>;
// SHA-256 of the manifest entry's bytes in the package.
using ManifestDigest = std::array<std::uint8_t, 32>;
// SHA-256 of the package's central directory records.
using DirectoryDigest = std::array<std::uint8_t, 32>;

// The signed release line a keyed publication adds to the version answer,
// after the version line and a CR LF:
//
//   morvane-release v1 version=1.3.0 size=<bytes> sha512=<hex>
//     expires=<2027-01-08T00:00:00Z> [manifest=<hex> [directory=<hex>]]
//     key=<base64> ed25519=<base64>
//
// (one line, one blank between fields). The signed part is a list of
// fields NAME=VALUE, a name of lower-case letters, digits and "-", a value
// of at least one byte and no blank or control byte, each name at most
// once: version, size, sha512 and expires must be there, manifest may be,
// and a name a later publisher's tool adds is read past (the signature
// still covers it), so that the line can grow without older updaters
// refusing it. key and then ed25519 end the line. size and sha512 are the
// whole package's; expires is a UTC time; manifest, present when the
// package carries a manifest, its SHA-256 in 64 lower-case hex digits, so
// that the manifest is as trusted as the package; directory, written with
// the manifest by tools that know it, the SHA-256 of the package's central
// directory records, so that what an update fetching only some entries
// takes from the directory (each entry's time, above all) is as trusted as
// the package too (older updaters read it past); the signature (by key)
// covers the line's text as it stands up to, not including, " key=". A
// reader that splits the answer at "." and takes the number each of its
// first three pieces begins with reads the same version with the line as
// without it.
struct ReleaseLine {
    std::string version;
    std::uint64_t size = 0;
    PackageDigest sha512{};
    std::int64_t expires = 0; // seconds since 1970-01-01 UTC
    std::optional<ManifestDigest> manifest;
    std::optional<DirectoryDigest> directory;
    PublicKey key{};
    SignatureBytes signature{};
    // Fields of names this reader does not know, as they stood, in order;
    // written after the known ones.
    std::vector<std::pair<std::string, std::string>> laterFields;
};

// The text the key signs: the line up to " key=", the known fields in
// their order, then the later ones.
std::string releaseSignedText(const ReleaseLine& line);
std::string formatReleaseLine(const ReleaseLine& line);
// The line, or nothing with the reason in why.
std::optional<ReleaseLine> parseReleaseLine(std::string_view text, std::string& why);

// The size and SHA-512 of the whole file at path. Throws SignatureError.
struct PackageIdentity {
    std::uint64_t size = 0;
    PackageDigest sha512{};
};
PackageIdentity identifyPackage(const std::string& path);

// A release line for the package of the given size and digest (and
// manifest and directory, when it carries a manifest), signed by key, valid
// until expires; the later fields, those of a line read before, go with it.
ReleaseLine signRelease(const std::string& version, std::uint64_t size, const PackageDigest& sha512,
                        std::int64_t expires, const SigningKey& key,
                        const std::optional<ManifestDigest>& manifest = std::nullopt,
                        const std::optional<DirectoryDigest>& directory = std::nullopt,
                        std::vector<std::pair<std::string, std::string>> laterFields = {});

// "2027-01-08T00:00:00Z"; parseUtcTime takes exactly that form.
std::string formatUtcTime(std::int64_t seconds);
std::optional<std::int64_t> parseUtcTime(std::string_view text);

// The version answer as a keyed updater reads it: its version line, a line
// end, the release line, perhaps a line end after it.
enum class AnswerVerdict {
    verified,      // signed by the key, names the version line, not expired
    noReleaseLine, // nothing after the version line
    malformedLine, // a release line that cannot be read
    otherKey,      // signed by another key
    badSignature,  // by the key, but not over this line
    otherVersion,  // its version is not the version line's
    expired,       // valid only until before now
};

struct AnswerCheck {
    AnswerVerdict verdict = AnswerVerdict::noReleaseLine;
    // Why, in plain words, for the log.
    std::string description;
    // The verified line.
    std::optional<ReleaseLine> release;

    bool verified() const { return verdict == AnswerVerdict::verified; }
};

// Checks a version answer against the publisher's key at the time now
// (seconds since 1970-01-01 UTC).
AnswerCheck checkVersionAnswer(std::string_view answer, const PublicKey& key, std::int64_t now);
// The same against the release keys trusted now: signed by any of them.
AnswerCheck checkVersionAnswer(std::string_view answer, const std::vector<PublicKey>& releaseKeys,
                               std::int64_t now);

// The release line's field that carries the keys line root keys signed, in
// base64: a field older updaters read past, so that one answer serves them
// and root builds alike.
inline constexpr std::string_view keysLineField = "keys";

// The keys line the answer's release line carries, read before anything in
// the answer is trusted (the keys line is what makes its signer trusted):
// nothing when the answer has no readable release line or the line no
// keys field; the field's value, when it is not base64, as it stands (the
// keys line's check then refuses it).
std::optional<std::string> carriedKeysLine(std::string_view answer);

} // namespace signature
