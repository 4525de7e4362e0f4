#include "signature/PackageCheck.h"

#include "PackageJudgement.h"
#include "signature/ArchiveEnd.h"
#include "signature/SignatureError.h"
#include "signature/VersionText.h"

#include "fileio/UniqueFd.h"
#include "fileio/Writing.h"
#include "text/Pieces.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <sys/stat.h>

namespace signature {

namespace {

// Only the text of a comment that is meant as a signature is quoted.
constexpr std::size_t quotedComment = 80;

PackageCheck refused(PackageVerdict verdict, std::string description) {
    return PackageCheck{verdict, "the package was refused: " + std::move(description)};
}

} // namespace

bool isSignatureOf(const PublicKey& key, const SignatureBytes& signature,
                   std::string_view message) {
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()),
        &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    return publicKey && context &&
           EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) == 1 &&
           EVP_DigestVerify(context.get(), signature.data(), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

PackageCheck checkPackage(const std::string& path, const PublicKey& key,
                          std::string_view offeredVersion) {
    const fileio::UniqueFd file = fileio::openFile(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0) {
        throw SignatureError("cannot read " + path + ": " + std::strerror(errno));
    }
    const ArchiveEnd end =
        readArchiveEnd(file.get(), static_cast<std::uint64_t>(status.st_size), path);
    return judgePackage(end, key, offeredVersion, [&](std::uint64_t signedLength) {
        return digestOfStart(file.get(), signedLength, path);
    });
}

PackageCheck judgePackage(const ArchiveEnd& end, const PublicKey& key,
                          std::string_view offeredVersion, const SignedDigest& digestOfSigned) {
    if (end.kind == ArchiveEnd::Kind::none) {
        return refused(PackageVerdict::notAnArchive,
                       "it is not a zip archive (it has no end record), so it carries no "
                       "publisher's signature");
    }
    if (end.kind == ArchiveEnd::Kind::trailing) {
        return refused(PackageVerdict::dataAfterEnd,
                       std::to_string(end.trailingBytes) +
                           " bytes follow the end of its zip archive; a signed package ends "
                           "with its signature");
    }
    if (!end.comment.starts_with(signatureLineStart)) {
        return refused(PackageVerdict::unsigned_,
                       "it carries no publisher's signature, and this updater installs only "
                       "signed packages");
    }
    std::string why;
    const auto line = parseSignatureLine(end.comment, why);
    if (!line) {
        return refused(PackageVerdict::malformedLine,
                       "its signature line cannot be read (" + why + "): \"" +
                           end.comment.substr(0, quotedComment) +
                           (end.comment.size() > quotedComment ? "...\"" : "\""));
    }
    if (line->key != key) {
        return refused(PackageVerdict::otherKey,
                       "it is signed by another key (" + base64Of(line->key) +
                           "), not by this updater's publisher (" + base64Of(key) + ")");
    }
    const ArchiveDigest digest = digestOfSigned(end.commentLengthOffset);
    if (!isSignatureOf(key, line->signature, signedMessage(line->version, digest))) {
        return refused(PackageVerdict::badSignature,
                       "its publisher's signature does not match its contents: the package "
                       "was changed after it was signed, or damaged on the way");
    }
    if (!sameVersion(line->version, offeredVersion)) {
        return refused(PackageVerdict::otherVersion,
                       "it is signed for version " + line->version +
                           ", but the version endpoint offered version " +
                           std::string(text::trimmed(offeredVersion, " \t\r\n")) +
                           " (an older package served again?)");
    }
    return PackageCheck{PackageVerdict::signedForOffer,
                        "signed by the publisher for version " + line->version};
}

} // namespace signature
