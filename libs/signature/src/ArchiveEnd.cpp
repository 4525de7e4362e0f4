#include "signature/ArchiveEnd.h"

#include "signature/SignatureError.h"

#include "fileio/Reading.h"
#include "zipformat/EndRecord.h"

#include <cstring>
#include <memory>
#include <openssl/evp.h>
#include <vector>

namespace signature {

namespace {

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
    const auto tailSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, zipformat::endSearchLength));
    const std::uint64_t tailStart = fileSize - tailSize;
    std::vector<unsigned char> tail(tailSize);
    readExactly(fd, tail.data(), tail.size(), tailStart, path);
    return archiveEndOf(tail, tailStart);
}

ArchiveEnd archiveEndOf(std::span<const unsigned char> tail, std::uint64_t tailStart) {
    using Fit = zipformat::EndRecordPlace::Fit;
    const zipformat::EndRecordPlace place = zipformat::findEndRecord(tail);
    ArchiveEnd end;
    if (place.fit == Fit::none) {
        return end;
    }
    end.kind = place.fit == Fit::exact ? ArchiveEnd::Kind::exact : ArchiveEnd::Kind::trailing;
    end.commentLengthOffset = tailStart + place.offset + zipformat::endCommentLengthAt;
    end.trailingBytes = place.trailingBytes;
    if (place.fit == Fit::exact) {
        const auto comment =
            tail.begin() + static_cast<std::ptrdiff_t>(place.offset + zipformat::endRecordSize);
        end.comment.assign(comment, tail.end());
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
