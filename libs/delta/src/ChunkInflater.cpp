#include "delta/ChunkInflater.h"

#include "delta/DeltaError.h"

#include <algorithm>
#include <array>
#include <zlib.h>

namespace delta {

struct ChunkInflater::State {
    Sink sink;
    z_stream stream{};
    MapChunk chunk;
    bool last = false;
    std::uint64_t taken = 0;
    std::uint64_t given = 0;
    bool ended = false;
    std::optional<std::string> problem;
    std::optional<Sha256Digest> digest;
    std::array<unsigned char, 64 * 1024> out{};
};

ChunkInflater::ChunkInflater(Sink sink) : m_state(std::make_unique<State>()) {
    m_state->sink = std::move(sink);
    if (inflateInit2(&m_state->stream, -MAX_WBITS) != Z_OK) {
        throw DeltaError("cannot set up zlib to inflate a chunk");
    }
}

ChunkInflater::~ChunkInflater() {
    inflateEnd(&m_state->stream);
}

void ChunkInflater::start(const MapChunk& chunk, bool last) {
    State& state = *m_state;
    inflateReset(&state.stream);
    state.chunk = chunk;
    state.last = last;
    state.taken = 0;
    state.given = 0;
    state.ended = false;
    state.problem.reset();
    state.digest.emplace("a chunk");
}

std::size_t ChunkInflater::take(std::span<const unsigned char> bytes) {
    State& state = *m_state;
    const auto count = static_cast<std::size_t>(
        std::min<std::uint64_t>(bytes.size(), state.chunk.compressedSize - state.taken));
    state.taken += count;
    z_stream& stream = state.stream;
    stream.next_in = const_cast<unsigned char*>(bytes.data());
    stream.avail_in = static_cast<uInt>(count);
    // Until every byte given is in and zlib holds back no output.
    for (bool full = true; !state.problem && (stream.avail_in > 0 || full);) {
        if (state.ended) {
            if (stream.avail_in > 0) {
                state.problem = "the chunk's deflate stream ends before its compressed bytes do";
            }
            break;
        }
        stream.next_out = state.out.data();
        stream.avail_out = static_cast<uInt>(state.out.size());
        const int result = inflate(&stream, Z_NO_FLUSH);
        const std::size_t made = state.out.size() - stream.avail_out;
        full = stream.avail_out == 0;
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
            state.problem = "the chunk's compressed bytes do not inflate";
        } else if (state.given + made > state.chunk.size) {
            state.problem = "the chunk inflates to more than its " +
                            std::to_string(state.chunk.size) + " bytes";
        } else {
            state.given += made;
            state.digest->add(state.out.data(), made);
            state.sink({state.out.data(), made});
            state.ended = result == Z_STREAM_END;
        }
    }
    return count;
}

std::optional<std::string> ChunkInflater::finish() {
    State& state = *m_state;
    if (state.problem) {
        return state.problem;
    }
    if (state.taken != state.chunk.compressedSize) {
        return "the chunk's compressed bytes end after " + std::to_string(state.taken) + " of " +
               std::to_string(state.chunk.compressedSize);
    }
    if (state.given != state.chunk.size) {
        return "the chunk inflates to " + std::to_string(state.given) + " bytes, not " +
               std::to_string(state.chunk.size);
    }
    if (state.ended != state.last) {
        return state.last ? "the last chunk does not end the deflate stream"
                          : "a chunk ends the deflate stream before the last";
    }
    if (chunkDigestOf(state.digest->finish()) != state.chunk.digest) {
        return "the chunk's bytes are not the ones the chunk map lists";
    }
    return std::nullopt;
}

} // namespace delta
