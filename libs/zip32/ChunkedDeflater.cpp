#include "ChunkedDeflater.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <span>

namespace zip32 {

namespace {

std::optional<zipformat::ContentChunker>
chunkerFor(const std::optional<zipformat::ChunkSizes>& sizes) {
    return sizes ? std::optional<zipformat::ContentChunker>(*sizes) : std::nullopt;
}

} // namespace

ChunkedDeflater::ChunkedDeflater(int level, const std::optional<zipformat::ChunkSizes>& sizes)
    : m_ownStream(std::make_unique<DeflateStream>(level)), m_deflate(*m_ownStream),
      m_chunker(chunkerFor(sizes)) {}

ChunkedDeflater::ChunkedDeflater(DeflateStream& stream,
                                 const std::optional<zipformat::ChunkSizes>& sizes)
    : m_deflate(stream), m_chunker(chunkerFor(sizes)) {}

bool ChunkedDeflater::nextStep(StoredBytes& input) {
    if (m_rest.empty() && !m_inputEnded) {
        const auto piece = input.next();
        if (!piece) {
            return false;
        }
        m_rest = *piece;
        m_inputEnded = piece->empty();
    }
    if (m_rest.empty()) {
        // The last chunk, cut or not, ends the stream.
        m_cutPending = false;
        m_flush = Z_FINISH;
        return true;
    }
    if (m_cutPending) {
        m_cutPending = false;
        m_flush = Z_FULL_FLUSH;
        return true;
    }
    std::size_t length = m_rest.size();
    if (m_chunker) {
        if (const auto cut = m_chunker->cut(
                std::span(reinterpret_cast<const unsigned char*>(m_rest.data()), m_rest.size()))) {
            length = *cut;
            m_cutPending = true;
        }
    }
    z_stream& stream = m_deflate.get();
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(m_rest.data()));
    stream.avail_in = static_cast<uInt>(length);
    m_chunk.uncompressed += length;
    m_rest.remove_prefix(length);
    return true;
}

std::optional<std::size_t> ChunkedDeflater::produce(StoredBytes& input, unsigned char* out,
                                                    std::size_t capacity,
                                                    std::vector<Chunk>& chunks) {
    z_stream& stream = m_deflate.get();
    stream.next_out = out;
    stream.avail_out =
        static_cast<uInt>(std::min<std::size_t>(capacity, std::numeric_limits<uInt>::max()));
    const uInt offered = stream.avail_out;
    while (stream.avail_out > 0 && !m_finished) {
        if (m_flush == Z_NO_FLUSH && stream.avail_in == 0 && !nextStep(input)) {
            return std::nullopt;
        }
        const uInt before = stream.avail_out;
        const int result = deflate(&stream, m_flush);
        if (result == Z_STREAM_ERROR) {
            errno = EIO;
            return std::nullopt;
        }
        m_chunk.compressed += before - stream.avail_out;
        // A flush is done once deflate stops short of the room it was given.
        const bool flushed = m_flush == Z_FINISH ? result == Z_STREAM_END
                                                 : m_flush == Z_FULL_FLUSH && stream.avail_out > 0;
        if (flushed) {
            chunks.push_back(m_chunk);
            m_chunk = {};
            m_finished = m_flush == Z_FINISH;
            m_flush = Z_NO_FLUSH;
        }
    }
    return offered - stream.avail_out;
}

} // namespace zip32
