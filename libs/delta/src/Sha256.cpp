#include "delta/Sha256.h"

#include "delta/DeltaError.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "fileio/Writing.h"
#include "text/Hex.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <vector>

namespace delta {

namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

DigestContext startedDigest(const std::string& what) {
    DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        throw DeltaError("cannot compute the SHA-256 of " + what);
    }
    return context;
}

Sha256 finishedDigest(const DigestContext& context, const std::string& what) {
    Sha256 digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
        throw DeltaError("cannot compute the SHA-256 of " + what);
    }
    return digest;
}

} // namespace

Sha256 sha256Of(std::string_view bytes) {
    const DigestContext context = startedDigest("bytes in memory");
    EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
    return finishedDigest(context, "bytes in memory");
}

Sha256 sha256OfOpenFile(int fd, const std::string& path) {
    const DigestContext context = startedDigest(path);
    constexpr std::size_t blockSize = 1 << 20;
    std::vector<unsigned char> block(blockSize);
    for (off_t offset = 0;;) {
        std::size_t got = 0;
        if (const int failure = fileio::readAt(fd, block.data(), blockSize, offset, got);
            failure != 0) {
            throw DeltaError("cannot read " + path + ": " + fileio::systemReason(failure));
        }
        EVP_DigestUpdate(context.get(), block.data(), got);
        if (got < blockSize) {
            return finishedDigest(context, path);
        }
        offset += static_cast<off_t>(got);
    }
}

Sha256 sha256OfFile(const std::string& path) {
    // Without waiting: a FIFO in the file's place would wait for a writer.
    const fileio::UniqueFd fd =
        fileio::openFile(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0);
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0) {
        const int failure = errno;
        throw DeltaError("cannot read " + path + ": " +
                         (failure == ELOOP ? std::string("it is a symbolic link")
                                           : fileio::systemReason(failure)));
    }
    if (!S_ISREG(status.st_mode)) {
        throw DeltaError("cannot read " + path + ": it is " + fileio::notAFileKind(status.st_mode) +
                         ", not a file");
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
