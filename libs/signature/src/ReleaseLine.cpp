#include "signature/ReleaseLine.h"

#include "LineFields.h"

#include "signature/ArchiveEnd.h"
#include "signature/Base64.h"
#include "signature/PackageCheck.h"
#include "signature/PackageSigning.h"
#include "signature/VersionText.h"

#include "signature/SignatureError.h"

#include "fileio/UniqueFd.h"
#include "fileio/Writing.h"
#include "text/Hex.h"
#include "text/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <set>
#include <sys/stat.h>

namespace signature {

namespace {

constexpr std::string_view lineStart = "morvane-release v1 ";
constexpr std::string_view keyField = " key=";
constexpr std::string_view signatureField = " ed25519=";
// The answer's version line (without a byte order mark), the release
// line, each without its line end, and what follows the version line.
struct AnswerLines {
    std::string_view version;
    std::string_view rest;
    std::string_view release;
};

AnswerLines answerLines(std::string_view answer) {
    AnswerLines lines;
    lines.version = answer.substr(0, answer.find('\n'));
    lines.rest =
        lines.version.size() < answer.size() ? answer.substr(lines.version.size() + 1) : "";
    lines.release = lines.rest.substr(0, lines.rest.find('\n'));
    if (lines.version.ends_with('\r')) {
        lines.version.remove_suffix(1);
    }
    if (lines.release.ends_with('\r')) {
        lines.release.remove_suffix(1);
    }
    lines.version = text::withoutByteOrderMark(lines.version);
    return lines;
}

AnswerCheck refused(AnswerVerdict verdict, std::string description) {
    return AnswerCheck{verdict, std::move(description), std::nullopt};
}

// A SHA-256 in 64 lower-case hex digits, into the line's field.
template <std::optional<std::array<std::uint8_t, 32>> ReleaseLine::*field>
bool readSha256(std::string_view value, ReleaseLine& line) {
    line.*field = std::array<std::uint8_t, 32>{};
    return text::fromLowerHex(value, *(line.*field));
}

// The fields this reader knows: each read into the line, or refused with
// its reason.
struct KnownField {
    std::string_view name;
    bool required;
    bool (*read)(std::string_view value, ReleaseLine& line);
    const char* refusal;
};

const KnownField knownFields[] = {
    {"version", true,
     [](std::string_view value, ReleaseLine& line) {
         line.version = std::string(value);
         return isVersionText(value);
     },
     "it names no version of three numbers"},
    {"size", true,
     [](std::string_view value, ReleaseLine& line) {
         const auto size = numberOf(value);
         line.size = size.value_or(0);
         return size.has_value();
     },
     "it gives no package size"},
    {"sha512", true,
     [](std::string_view value, ReleaseLine& line) {
         const auto digest = digestFromHex(value);
         line.sha512 = digest.value_or(PackageDigest{});
         return digest.has_value();
     },
     "it gives no SHA-512 of 128 lower-case hex digits"},
    {"expires", true,
     [](std::string_view value, ReleaseLine& line) {
         const auto expires = parseUtcTime(value);
         line.expires = expires.value_or(0);
         return expires.has_value();
     },
     "it gives no expiry time such as 2027-01-08T00:00:00Z"},
    {"manifest", false, readSha256<&ReleaseLine::manifest>,
     "it gives a manifest that is not a SHA-256 of 64 lower-case hex digits"},
    {"directory", false, readSha256<&ReleaseLine::directory>,
     "it gives a directory that is not a SHA-256 of 64 lower-case hex digits"},
};

// The fields before the key, each "NAME=VALUE" and a blank after it.
bool readSignedFields(std::string_view fields, ReleaseLine& line, std::string& why) {
    std::set<std::string, std::less<>> seen;
    const auto take = [&line](std::string_view name, std::string_view value, std::string& reason) {
        const auto known = std::find_if(std::begin(knownFields), std::end(knownFields),
                                        [&](const KnownField& k) { return k.name == name; });
        if (known == std::end(knownFields)) {
            line.laterFields.emplace_back(name, value);
        } else if (!known->read(value, line)) {
            reason = known->refusal;
            return false;
        }
        return true;
    };
    if (!readFields(fields, {"key", "ed25519"}, take, seen, why)) {
        return false;
    }
    for (const KnownField& known : knownFields) {
        if (known.required && !seen.contains(known.name)) {
            why = known.refusal;
            return false;
        }
    }
    return true;
}

// "key=<base64> ed25519=<base64>", the end of the line.
bool readSignature(std::string_view rest, ReleaseLine& line, std::string& why) {
    const auto key = takeField(rest, keyField.substr(1));
    const auto keyValue = key ? publicKeyFromBase64(*key) : std::nullopt;
    if (!keyValue) {
        why = "it names no public key of 32 bytes";
        return false;
    }
    line.key = *keyValue;
    const bool lastField = rest.find(' ') == std::string_view::npos;
    const auto signature = takeField(rest, signatureField.substr(1));
    const auto signatureBytes = signature ? decodeBase64(*signature) : std::nullopt;
    if (!signatureBytes || signatureBytes->size() != signatureSize || !lastField) {
        why = "it does not end with a signature of 64 bytes";
        return false;
    }
    std::copy(signatureBytes->begin(), signatureBytes->end(), line.signature.begin());
    return true;
}

} // namespace

std::string releaseSignedText(const ReleaseLine& line) {
    std::string text = std::string(lineStart) + "version=" + line.version +
                       " size=" + std::to_string(line.size) + " sha512=" + hexOf(line.sha512) +
                       " expires=" + formatUtcTime(line.expires) +
                       (line.manifest ? " manifest=" + text::lowerHexOf(*line.manifest) : "") +
                       (line.directory ? " directory=" + text::lowerHexOf(*line.directory) : "");
    for (const auto& [name, value] : line.laterFields) {
        text += " " + name + "=" + value;
    }
    return text;
}

std::string formatReleaseLine(const ReleaseLine& line) {
    return releaseSignedText(line) + std::string(keyField) + base64Of(line.key) +
           std::string(signatureField) + encodeBase64(line.signature.data(), line.signature.size());
}

std::optional<ReleaseLine> parseReleaseLine(std::string_view text, std::string& why) {
    if (!text.starts_with(lineStart)) {
        why = "it does not begin with \"" + std::string(lineStart) + "\"";
        return std::nullopt;
    }
    const std::size_t keyAt = text.rfind(keyField);
    if (keyAt == std::string_view::npos || keyAt + 1 < lineStart.size()) {
        why = "it names no public key of 32 bytes";
        return std::nullopt;
    }
    ReleaseLine line;
    if (!readSignedFields(text.substr(lineStart.size(), keyAt + 1 - lineStart.size()), line, why) ||
        !readSignature(text.substr(keyAt + 1), line, why)) {
        return std::nullopt;
    }
    return line;
}

PackageIdentity identifyPackage(const std::string& path) {
    const fileio::UniqueFd file = fileio::openFile(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0) {
        throw SignatureError("cannot read " + path + ": " + std::strerror(errno));
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    return PackageIdentity{size, digestOfStart(file.get(), size, path)};
}

ReleaseLine signRelease(const std::string& version, std::uint64_t size, const PackageDigest& sha512,
                        std::int64_t expires, const SigningKey& key,
                        const std::optional<ManifestDigest>& manifest,
                        const std::optional<DirectoryDigest>& directory,
                        std::vector<std::pair<std::string, std::string>> laterFields) {
    ReleaseLine line{version,         size,     sha512,
                     expires,         manifest, directory,
                     key.publicKey(), {},       std::move(laterFields)};
    line.signature = key.sign(releaseSignedText(line));
    return line;
}

std::string formatUtcTime(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char text[32] = {};
    if (gmtime_r(&time, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
        return "(a time out of range)";
    }
    return text;
}

std::optional<std::int64_t> parseUtcTime(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SSZ, every digit where it belongs.
    constexpr std::string_view shape = "0000-00-00T00:00:00Z";
    if (text.size() != shape.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == '0' ? !digit : text[i] != shape[i]) {
            return std::nullopt;
        }
    }
    const auto field = [&](std::size_t at, std::size_t length) {
        int value = 0;
        std::from_chars(text.data() + at, text.data() + at + length, value);
        return value;
    };
    std::tm parts{};
    parts.tm_year = field(0, 4) - 1900;
    parts.tm_mon = field(5, 2) - 1;
    parts.tm_mday = field(8, 2);
    parts.tm_hour = field(11, 2);
    parts.tm_min = field(14, 2);
    parts.tm_sec = field(17, 2);
    const std::time_t seconds = timegm(&parts);
    // timegm carries a day 31 of a short month into the next: not a time.
    if (formatUtcTime(seconds) != text) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(seconds);
}

AnswerCheck checkVersionAnswer(std::string_view answer, const PublicKey& key, std::int64_t now) {
    return checkVersionAnswer(answer, std::vector<PublicKey>{key}, now);
}

std::optional<std::string> carriedKeysLine(std::string_view answer) {
    const AnswerLines lines = answerLines(answer);
    std::string why;
    const auto line = parseReleaseLine(lines.release, why);
    if (!line) {
        return std::nullopt;
    }
    for (const auto& [name, value] : line->laterFields) {
        if (name == keysLineField) {
            const auto bytes = decodeBase64(value);
            return bytes ? std::string(bytes->begin(), bytes->end()) : value;
        }
    }
    return std::nullopt;
}

AnswerCheck checkVersionAnswer(std::string_view answer, const std::vector<PublicKey>& releaseKeys,
                               std::int64_t now) {
    const AnswerLines lines = answerLines(answer);
    const std::string_view versionLine = lines.version;
    const std::string_view rest = lines.rest;
    const std::string_view releaseText = lines.release;
    if (releaseText.empty()) {
        return refused(AnswerVerdict::noReleaseLine,
                       "the version answer carries no signed release line, so it cannot be "
                       "trusted: " +
                           quoted(answer));
    }
    const bool onlyLineEndsAfter =
        rest.substr(std::min(rest.size(), releaseText.size())).find_first_not_of("\r\n") ==
        std::string_view::npos;
    std::string why;
    const auto line = parseReleaseLine(releaseText, why);
    if (!line || !onlyLineEndsAfter) {
        return refused(AnswerVerdict::malformedLine,
                       "the version answer's release line cannot be read (" +
                           (line ? std::string("more follows it") : why) +
                           "): " + quoted(releaseText));
    }
    if (std::find(releaseKeys.begin(), releaseKeys.end(), line->key) == releaseKeys.end()) {
        std::string trusted;
        for (const PublicKey& key : releaseKeys) {
            trusted += (trusted.empty() ? "" : ", ") + base64Of(key);
        }
        return refused(AnswerVerdict::otherKey, "the version answer is signed by another key (" +
                                                    base64Of(line->key) +
                                                    ") than the publisher's (" + trusted + ")");
    }
    if (!isSignatureOf(line->key, line->signature,
                       releaseText.substr(0, releaseText.rfind(keyField)))) {
        return refused(AnswerVerdict::badSignature,
                       "the version answer's release line does not match its signature "
                       "(changed on the way)");
    }
    if (line->version != versionLine) {
        return refused(AnswerVerdict::otherVersion,
                       "the version answer offers " + quoted(versionLine) +
                           ", but its signed release line names version " + line->version);
    }
    if (line->expires < now) {
        return refused(AnswerVerdict::expired,
                       "the version answer expired at " + formatUtcTime(line->expires) +
                           "; this computer's clock says " + formatUtcTime(now) +
                           " (if the clock is wrong, set it right; otherwise the publisher "
                           "has not renewed the answer)");
    }
    return AnswerCheck{AnswerVerdict::verified, "", line};
}

} // namespace signature
