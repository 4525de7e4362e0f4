#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace signature {

constexpr std::size_t publicKeySize = 32;
constexpr std::size_t signatureSize = 64;
constexpr std::size_t digestSize = 64;
using PublicKey = std::array<std::uint8_t, publicKeySize>;
using SignatureBytes = std::array<std::uint8_t, signatureSize>;
// SHA-512 of the archive's bytes before the comment-length field of its end
// record.
using ArchiveDigest = std::array<std::uint8_t, digestSize>;

// What a signed package's archive comment holds, and nothing else, as one
// line without a line end:
//
//   morvane-signature v1 version=1.3.0 key=<base64> ed25519=<base64>
//
// version: the version text the version endpoint answers for the package;
// key: the publisher's Ed25519 public key (32 bytes), named so that a
// package signed by another key can be told from a changed one; ed25519:
// the signature (64 bytes) of signedMessage(version, digest) by that key.
struct SignatureLine {
    std::string version;
    PublicKey key{};
    SignatureBytes signature{};
};

// How every signature comment begins, whatever its form's version.
inline constexpr std::string_view signatureLineStart = "morvane-signature ";

std::string formatSignatureLine(const SignatureLine& line);

// The comment as a signature line, or nothing with the reason in why.
std::optional<SignatureLine> parseSignatureLine(std::string_view comment, std::string& why);

// The text the publisher's key signs:
//   morvane-signature v1 version=<version> sha512=<digest in lower-case hex>
std::string signedMessage(std::string_view version, const ArchiveDigest& digest);

// A public key from the base64 text of its 32 bytes.
std::optional<PublicKey> publicKeyFromBase64(std::string_view text);
std::string base64Of(const PublicKey& key);

} // namespace signature
