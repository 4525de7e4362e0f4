#include "ZlibStreams.h"

#include <new>

namespace zip32 {

DeflateStream::DeflateStream(int level) {
    if (deflateInit2(&m_stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::bad_alloc();
    }
}

DeflateStream::~DeflateStream() {
    deflateEnd(&m_stream);
}

InflateStream::InflateStream() {
    if (inflateInit2(&m_stream, -MAX_WBITS) != Z_OK) {
        throw std::bad_alloc();
    }
}

InflateStream::~InflateStream() {
    inflateEnd(&m_stream);
}

} // namespace zip32
