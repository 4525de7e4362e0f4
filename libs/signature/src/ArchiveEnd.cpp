#include "signature/ArchiveEnd.h"

#include "signature/SignatureError.h"

#include "fileio/Reading.h"

#include <cstring>
#include <memory>
#include <openssl/evp.h>
#include <vector>

namespace signature {

namespace {

// The end record: signature, eight fields, then the comment's length and
// the comment.
constexpr std::size_t endRecordSize = 22;
constexpr std::size_t commentLengthField = 20;
constexpr std::size_t longestComment = 0xffff;
constexpr unsigned char endRecordSignature[] = {'P', 'K', 5, 6};

void readExactly(int fd, void* data, std::size_t size, std::uint64_t offset,
                 const std::string& path) {
    std::size_t got = 0;
    const int failure = fileio::readAt(fd, data, size, static_cast<off_t>(offset), got);
    if (failure != 0 || got != size) {
        throw SignatureError("cannot read " + path + ": " +
                             (failure != 0 ? std::strerror(failure) : "it ended early"));
    }
}

} // namespace

ArchiveEnd readArchiveEnd(int fd, std::uint64_t fileSize, const std::string& path) {
    const std::size_t tailSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, endRecordSize + longestComment));
    const std::uint64_t tailStart = fileSize - tailSize;
    std::vector<unsigned char> tail(tailSize);
    readExactly(fd, tail.data(), tail.size(), tailStart, path);

    ArchiveEnd end;
    // From the back: the first record whose comment ends the file is the one
    // every reader takes; without one, the last record tells how much
    // follows it.
    for (std::size_t at = tailSize >= endRecordSize ? tailSize - endRecordSize + 1 : 0; at-- > 0;) {
        if (std::memcmp(tail.data() + at, endRecordSignature, sizeof endRecordSignature) != 0) {
            continue;
        }
        const std::size_t commentLength =
            tail[at + commentLengthField] | (tail[at + commentLengthField + 1] << 8);
        const std::size_t commentEnd = at + endRecordSize + commentLength;
        if (commentEnd == tailSize) {
            end.kind = ArchiveEnd::Kind::exact;
            end.commentLengthOffset = tailStart + at + commentLengthField;
            end.comment.assign(tail.begin() + static_cast<std::ptrdiff_t>(at + endRecordSize),
                               tail.end());
            end.trailingBytes = 0;
            return end;
        }
        if (commentEnd < tailSize && end.kind == ArchiveEnd::Kind::none) {
            end.kind = ArchiveEnd::Kind::trailing;
            end.commentLengthOffset = tailStart + at + commentLengthField;
            end.trailingBytes = tailSize - commentEnd;
        }
    }
    return end;
}

ArchiveDigest digestOfStart(int fd, std::uint64_t length, const std::string& path) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha512(), nullptr) != 1) {
        throw SignatureError("cannot compute the digest of " + path);
    }
    constexpr std::size_t chunkSize = 1 << 20;
    std::vector<unsigned char> chunk(chunkSize);
    for (std::uint64_t offset = 0; offset < length;) {
        const std::size_t size =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize, length - offset));
        readExactly(fd, chunk.data(), size, offset, path);
        EVP_DigestUpdate(context.get(), chunk.data(), size);
        offset += size;
    }
    ArchiveDigest digest{};
    unsigned int digestLength = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &digestLength) != 1 ||
        digestLength != digest.size()) {
        throw SignatureError("cannot compute the digest of " + path);
    }
    return digest;
}

} // namespace signature
