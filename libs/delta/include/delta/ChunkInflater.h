#pragma once

// One chunk of an entry deflated in chunks, inflated alone from its
// compressed bytes as they arrive: its bytes go to the sink as they come
// out, and the chunk counts only when it gave exactly its size and SHA-256
// from exactly its compressed size. The bytes come from a server, so nothing
// in them is trusted: inflating is bounded by the chunk's listed size.

#include "delta/ChunkMap.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace delta {

class ChunkInflater {
public:
    using Sink = std::function<void(std::span<const unsigned char> bytes)>;

    // Throws DeltaError when zlib cannot set its state up.
    explicit ChunkInflater(Sink sink);
    ~ChunkInflater();
    ChunkInflater(const ChunkInflater&) = delete;
    ChunkInflater& operator=(const ChunkInflater&) = delete;

    // Begins the chunk; the last chunk of its entry ends the deflate stream.
    void start(const MapChunk& chunk, bool last);
    // Takes what belongs to the chunk of bytes (at most what its compressed
    // size still lacks) and returns how many that was.
    std::size_t take(std::span<const unsigned char> bytes);
    // Once every compressed byte was taken: why the chunk is not the listed
    // one, or nothing.
    std::optional<std::string> finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace delta
