#include "signature/SignatureLine.h"

#include "LineFields.h"
#include "signature/Base64.h"
#include "signature/VersionText.h"

#include <algorithm>

namespace signature {

namespace {

constexpr std::string_view formatName = "v1";
constexpr std::string_view versionField = "version=";
constexpr std::string_view keyField = "key=";
constexpr std::string_view signatureField = "ed25519=";

template <std::size_t size>
std::optional<std::array<std::uint8_t, size>> fixedBytes(std::string_view text) {
    const auto bytes = decodeBase64(text);
    if (!bytes || bytes->size() != size) {
        return std::nullopt;
    }
    std::array<std::uint8_t, size> fixed{};
    std::copy(bytes->begin(), bytes->end(), fixed.begin());
    return fixed;
}

} // namespace

std::string formatSignatureLine(const SignatureLine& line) {
    return std::string(signatureLineStart) + std::string(formatName) + " " +
           std::string(versionField) + line.version + " " + std::string(keyField) +
           base64Of(line.key) + " " + std::string(signatureField) +
           encodeBase64(line.signature.data(), line.signature.size());
}

std::optional<SignatureLine> parseSignatureLine(std::string_view comment, std::string& why) {
    std::string_view rest = comment;
    if (!rest.starts_with(signatureLineStart)) {
        why = "it is not a signature line";
        return std::nullopt;
    }
    rest.remove_prefix(signatureLineStart.size());
    if (!rest.starts_with(std::string(formatName) + " ")) {
        why = "its form is not " + std::string(formatName);
        return std::nullopt;
    }
    rest.remove_prefix(formatName.size() + 1);
    SignatureLine line;
    const auto version = takeField(rest, versionField);
    if (!version || !isVersionText(*version)) {
        why = "it names no version of three numbers";
        return std::nullopt;
    }
    line.version = std::string(*version);
    const auto key = takeField(rest, keyField);
    const auto keyBytes = key ? publicKeyFromBase64(*key) : std::nullopt;
    if (!keyBytes) {
        why = "it names no public key of 32 bytes";
        return std::nullopt;
    }
    line.key = *keyBytes;
    const auto signature = takeField(rest, signatureField);
    const auto signatureBytes = signature ? fixedBytes<signatureSize>(*signature) : std::nullopt;
    if (!signatureBytes || !rest.empty() || comment.ends_with(' ')) {
        why = "it does not end with a signature of 64 bytes";
        return std::nullopt;
    }
    line.signature = *signatureBytes;
    return line;
}

std::string signedMessage(std::string_view version, const ArchiveDigest& digest) {
    return std::string(signatureLineStart) + std::string(formatName) + " " +
           std::string(versionField) + std::string(version) + " sha512=" + hexOf(digest);
}

std::optional<PublicKey> publicKeyFromBase64(std::string_view text) {
    return fixedBytes<publicKeySize>(text);
}

std::string base64Of(const PublicKey& key) {
    return encodeBase64(key.data(), key.size());
}

} // namespace signature
