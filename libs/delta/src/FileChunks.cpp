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
        endChunkWith(bytes.first(*cut));
        bytes = bytes.subspan(*cut);
    }
    take(bytes);
}

void ChunkHasher::addCut(std::span<const unsigned char> bytes,
                         const std::vector<std::size_t>& ends) {
    std::size_t at = 0;
    for (const std::size_t end : ends) {
        endChunkWith(bytes.subspan(at, end - at));
        at = end;
    }
    take(bytes.subspan(at));
}

void ChunkHasher::take(std::span<const unsigned char> bytes) {
    m_digest.add(bytes.data(), bytes.size());
    m_offset += bytes.size();
}

void ChunkHasher::endChunkWith(std::span<const unsigned char> bytes) {
    take(bytes);
    m_found(m_start, m_offset - m_start, m_digest.finish());
    m_digest = Sha256Digest(m_what);
    m_start = m_offset;
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
    ChunkHasher hasher(sizes, found, path);
    for (bool last = false; !last;) {
        const CutAhead::Block& block = ahead->next();
        if (whole != nullptr) {
            whole->add(block.bytes.data(), block.size);
        }
        hasher.addCut({block.bytes.data(), block.size}, block.ends);
        last = block.last;
        ahead->done();
    }
    hasher.finish();
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
