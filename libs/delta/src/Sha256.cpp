#include "delta/Sha256.h"

#include "delta/DeltaError.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "text/Hex.h"

#include <cerrno>
#include <memory>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace delta {

namespace {

// Why a file could not be opened, as fileio::openRegularFile left it.
std::string unreadableReason(int failure, const struct stat& status) {
    if (failure == ELOOP) {
        return "it is a symbolic link";
    }
    if (status.st_mode != 0) {
        return "it is " + std::string(fileio::notAFileKind(status.st_mode)) + ", not a file";
    }
    return fileio::systemReason(failure);
}

} // namespace

struct Sha256Digest::Context {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> digest{EVP_MD_CTX_new(),
                                                                   &EVP_MD_CTX_free};
};

Sha256Digest::Sha256Digest(std::string what)
    : m_what(std::move(what)), m_context(std::make_unique<Context>()) {
    if (!m_context->digest ||
        EVP_DigestInit_ex(m_context->digest.get(), EVP_sha256(), nullptr) != 1) {
        throw DeltaError("cannot compute the SHA-256 of " + m_what);
    }
}

Sha256Digest::~Sha256Digest() = default;
Sha256Digest::Sha256Digest(Sha256Digest&&) noexcept = default;
Sha256Digest& Sha256Digest::operator=(Sha256Digest&&) noexcept = default;

void Sha256Digest::add(const void* data, std::size_t size) {
    if (EVP_DigestUpdate(m_context->digest.get(), data, size) != 1) {
        throw DeltaError("cannot compute the SHA-256 of " + m_what);
    }
}

Sha256 Sha256Digest::finish() {
    Sha256 digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_context->digest.get(), digest.data(), &length) != 1 ||
        length != digest.size()) {
        throw DeltaError("cannot compute the SHA-256 of " + m_what);
    }
    return digest;
}

Sha256 sha256Of(std::string_view bytes) {
    Sha256Digest digest("bytes in memory");
    digest.add(bytes.data(), bytes.size());
    return digest.finish();
}

Sha256 sha256OfOpenFile(int fd, const std::string& path) {
    Sha256Digest digest(path);
    constexpr std::size_t blockSize = 1 << 20;
    std::vector<unsigned char> block(blockSize);
    for (off_t offset = 0;;) {
        std::size_t got = 0;
        if (const int failure = fileio::readAt(fd, block.data(), blockSize, offset, got);
            failure != 0) {
            throw DeltaError("cannot read " + path + ": " + fileio::systemReason(failure));
        }
        digest.add(block.data(), got);
        if (got < blockSize) {
            return digest.finish();
        }
        offset += static_cast<off_t>(got);
    }
}

Sha256 sha256OfFile(const std::string& path) {
    struct stat status {};
    // Without waiting: a FIFO in the file's place would wait for a writer.
    const fileio::UniqueFd fd = fileio::openRegularFile(path, status, fileio::LastLink::refuse);
    if (!fd) {
        throw DeltaError("cannot read " + path + ": " + unreadableReason(errno, status));
    }
    return sha256OfOpenFile(fd.get(), path);
}

std::string hexOf(const Sha256& digest) {
    return text::lowerHexOf(digest);
}

std::optional<Sha256> sha256FromHex(std::string_view text) {
    return text::bytesFromLowerHex<std::tuple_size_v<Sha256>>(text);
}

} // namespace delta
