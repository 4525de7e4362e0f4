#pragma once

#include "Chunking.h"
#include "StoredBytes.h"
#include "ZlibStreams.h"
#include "zipformat/ContentChunker.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace zip32 {

// Deflates one entry's stored bytes into one raw deflate stream, a piece of
// output at a time, so that memory stays the same whatever the file's size.
// With chunk sizes the bytes are cut where the content chunker says, each
// chunk's compressed bytes end with a full flush (byte-aligned, nothing
// refers back across it) and the last chunk ends the stream; without them
// the whole entry is one chunk.
class ChunkedDeflater {
public:
    // Throws std::bad_alloc when zlib cannot set its state up.
    ChunkedDeflater(int level, const std::optional<zipformat::ChunkSizes>& sizes);
    // Deflates through stream, new or reset, which must outlive this.
    ChunkedDeflater(DeflateStream& stream, const std::optional<zipformat::ChunkSizes>& sizes);

    // Deflates what input gives into out, up to capacity bytes, and appends
    // every chunk whose compressed bytes are now complete to chunks. The
    // number of bytes written (fewer than capacity only once finished);
    // nothing when input could not be read or zlib failed (errno set).
    std::optional<std::size_t> produce(StoredBytes& input, unsigned char* out, std::size_t capacity,
                                       std::vector<Chunk>& chunks);
    bool finished() const { return m_finished; }

private:
    // Sets up deflate's next step once it has used all it was given.
    bool nextStep(StoredBytes& input);

    // Set when the stream is this deflater's own.
    std::unique_ptr<DeflateStream> m_ownStream;
    DeflateStream& m_deflate;
    std::optional<zipformat::ContentChunker> m_chunker;
    // The stored bytes read and not yet handed to deflate.
    std::string_view m_rest;
    bool m_inputEnded = false;
    // The chunk under way ended at the last byte handed over; its flush
    // waits until more bytes show it is not the last chunk.
    bool m_cutPending = false;
    int m_flush = Z_NO_FLUSH;
    Chunk m_chunk;
    bool m_finished = false;
};

} // namespace zip32
