#include "EntryChunks.h"

#include "delta/DeltaError.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "publisher/PublishError.h"
#include "zipformat/EntryData.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <array>
#include <cerrno>
#include <sys/stat.h>
#include <vector>
#include <zlib.h>

namespace publisher {

namespace {

constexpr std::size_t pieceSize = 256 * 1024;

// zlib's raw inflater, ended on every way out.
struct Inflater {
    Inflater() {
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
            throw PublishError("cannot set up zlib");
        }
    }
    ~Inflater() { inflateEnd(&stream); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    z_stream stream{};
};

// Reads the entry's data piece by piece into give: compressed as stored.
class EntryData {
public:
    EntryData(const std::string& path, const delta::DirectoryEntry& entry) : m_path(path) {
        struct stat status {};
        m_fd = fileio::openRegularFile(path, status);
        if (!m_fd) {
            throw PublishError("cannot read " + path + ": " + fileio::systemReason(errno));
        }
        std::array<unsigned char, zipformat::localHeaderSize> header{};
        read(header.data(), header.size(), entry.localHeaderOffset);
        m_offset = entry.localHeaderOffset + header.size() +
                   zipformat::read16(header.data() + zipformat::localNameLengthAt) +
                   zipformat::read16(header.data() + zipformat::localExtraLengthAt);
        m_left = entry.compressedSize;
    }

    // The next piece, empty at the end.
    std::span<const unsigned char> next() {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(m_left, pieceSize));
        m_piece.resize(size);
        read(m_piece.data(), size, m_offset);
        m_offset += size;
        m_left -= size;
        return m_piece;
    }

private:
    void read(unsigned char* data, std::size_t size, std::uint64_t offset) {
        std::size_t got = 0;
        if (const int error =
                fileio::readAt(m_fd.get(), data, size, static_cast<off_t>(offset), got);
            error != 0 || got != size) {
            throw PublishError("cannot read " + m_path + ": " +
                               (error != 0 ? fileio::systemReason(error) : "it ends early"));
        }
    }

    std::string m_path;
    fileio::UniqueFd m_fd;
    std::uint64_t m_offset = 0;
    std::uint64_t m_left = 0;
    std::vector<unsigned char> m_piece;
};

} // namespace

delta::HeldChunks chunksOfEntry(const std::string& path, const delta::DirectoryEntry& entry,
                                const zipformat::ChunkSizes& sizes) {
    if (!zipformat::readsWithZlib(entry.flags, entry.method)) {
        throw PublishError(entry.name + " in " + path + " is not stored or deflated as it is");
    }
    delta::HeldChunks held;
    delta::ChunkHasher hasher(
        sizes,
        [&held](std::uint64_t offset, std::uint64_t size, const delta::Sha256& sha256) {
            held.try_emplace(delta::chunkDigestOf(sha256), delta::HeldChunk{offset, size});
        },
        entry.name);
    EntryData data(path, entry);
    Inflater inflater;
    std::vector<unsigned char> out(pieceSize);
    for (auto piece = data.next(); !piece.empty(); piece = data.next()) {
        if (entry.method == zipformat::storedMethod) {
            hasher.add(piece);
            continue;
        }
        z_stream& stream = inflater.stream;
        stream.next_in = const_cast<unsigned char*>(piece.data());
        stream.avail_in = static_cast<uInt>(piece.size());
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            const int result = inflate(&stream, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
                throw PublishError(entry.name + " in " + path + " does not inflate");
            }
            hasher.add({out.data(), out.size() - stream.avail_out});
        } while (stream.avail_out == 0);
    }
    hasher.finish();
    return held;
}

} // namespace publisher
