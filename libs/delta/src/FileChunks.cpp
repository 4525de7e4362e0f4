#include "delta/FileChunks.h"

#include "CutAhead.h"
#include "delta/DeltaError.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"

#include <cstring>
#include <optional>
#include <system_error>
#include <vector>

namespace delta {

std::size_t ChunkDigestHash::operator()(const ChunkDigest& digest) const {
    std::size_t value = 0;
    std::memcpy(&value, digest.data(), sizeof value);
    return value;
}

ChunkHasher::ChunkHasher(const zipformat::ChunkSizes& sizes, ChunkFound found, std::string what)
    : m_chunker(sizes), m_found(std::move(found)), m_what(std::move(what)), m_digest(m_what) {}

void ChunkHasher::add(std::span<const unsigned char> bytes) {
    while (const auto cut = m_chunker.cut(bytes)) {
        m_digest.add(bytes.data(), *cut);
        m_offset += *cut;
        m_found(m_start, m_offset - m_start, m_digest.finish());
        m_digest = Sha256Digest(m_what);
        m_start = m_offset;
        bytes = bytes.subspan(*cut);
    }
    m_digest.add(bytes.data(), bytes.size());
    m_offset += bytes.size();
}

void ChunkHasher::finish() {
    if (m_offset > m_start) {
        m_found(m_start, m_offset - m_start, m_digest.finish());
        m_start = m_offset;
    }
}

namespace {

// One block after another on the calling thread, where no second thread
// can be started.
void cutOnOneThread(int fd, const std::string& path, const zipformat::ChunkSizes& sizes,
                    const ChunkFound& found, Sha256Digest* whole) {
    ChunkHasher hasher(sizes, found, path);
    std::vector<unsigned char> block(CutAhead::blockSize);
    for (std::uint64_t offset = 0;;) {
        std::size_t got = 0;
        if (const int failure = fileio::readAt(fd, block.data(), CutAhead::blockSize,
                                               static_cast<off_t>(offset), got);
            failure != 0) {
            throw DeltaError("cannot read " + path + ": " + fileio::systemReason(failure));
        }
        if (whole != nullptr) {
            whole->add(block.data(), got);
        }
        hasher.add({block.data(), got});
        offset += got;
        if (got < CutAhead::blockSize) {
            hasher.finish();
            return;
        }
    }
}

} // namespace

void cutOpenFile(int fd, const std::string& path, const zipformat::ChunkSizes& sizes,
                 const ChunkFound& found, Sha256Digest* whole) {
    std::optional<CutAhead> ahead;
    try {
        ahead.emplace(fd, path, sizes);
    } catch (const std::system_error&) {
        cutOnOneThread(fd, path, sizes, found, whole);
        return;
    }
    Sha256Digest digest(path);
    std::uint64_t start = 0;
    std::uint64_t offset = 0;
    for (;;) {
        const CutAhead::Block& block = ahead->next();
        if (whole != nullptr) {
            whole->add(block.bytes.data(), block.size);
        }
        std::size_t at = 0;
        for (const std::size_t end : block.ends) {
            digest.add(block.bytes.data() + at, end - at);
            offset += end - at;
            found(start, offset - start, digest.finish());
            digest = Sha256Digest(path);
            start = offset;
            at = end;
        }
        digest.add(block.bytes.data() + at, block.size - at);
        offset += block.size - at;
        const bool last = block.last;
        ahead->done();
        if (last) {
            break;
        }
    }
    if (offset > start) {
        found(start, offset - start, digest.finish());
    }
}

HeldChunks chunksOfOpenFile(int fd, const std::string& path, const zipformat::ChunkSizes& sizes,
                            const std::function<void()>& progress) {
    HeldChunks held;
    cutOpenFile(fd, path, sizes,
                [&](std::uint64_t offset, std::uint64_t size, const Sha256& sha256) {
                    held.try_emplace(chunkDigestOf(sha256), HeldChunk{offset, size});
                    progress();
                });
    return held;
}

} // namespace delta
