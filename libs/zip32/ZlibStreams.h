#pragma once

#include <zlib.h>

namespace zip32 {

// zlib's state for one entry's raw data stream (no zlib or gzip wrapper, as
// zip entries keep it), ended on every way out. Neither copied nor moved:
// zlib's state points back at its stream.

class DeflateStream {
public:
    // Deflates at level (1 to 9). Throws std::bad_alloc when zlib cannot set
    // its state up.
    explicit DeflateStream(int level);
    ~DeflateStream();
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    z_stream& get() { return m_stream; }
    // Back to the state of a new stream at the same level, for the next
    // entry: setting zlib's state up anew costs more than deflating a small
    // file. False when the state was found broken.
    bool reset() { return deflateReset(&m_stream) == Z_OK; }

private:
    z_stream m_stream{};
};

class InflateStream {
public:
    // Throws std::bad_alloc when zlib cannot set its state up.
    InflateStream();
    ~InflateStream();
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    z_stream& get() { return m_stream; }

private:
    z_stream m_stream{};
};

} // namespace zip32
