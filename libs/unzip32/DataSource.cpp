#include "DataSource.h"

#include "JobError.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "unzip32.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>
#include <string>
#include <unistd.h>

namespace unzip32 {

namespace {

constexpr int rawDeflateWindowBits = -MAX_WBITS;
// Few reads of the archive per entry, and memory that does not grow with it.
constexpr std::size_t compressedReadSize = 256 * 1024;

} // namespace

uint64_t ZipFileSource::read(unsigned char* target, uint64_t capacity) {
    const zip_int64_t got = zip_fread(m_file, target, capacity);
    if (got >= 0) {
        return static_cast<uint64_t>(got);
    }
    zip_error_t* error = zip_file_get_error(m_file);
    const int zipError = zip_error_code_zip(error);
    const std::string detail = zip_error_strerror(error);
    if (zipError == ZIP_ER_READ || zipError == ZIP_ER_SEEK) {
        throw JobStop(UZP_ARCHIVE_UNREADABLE, "the archive cannot be read: " + detail);
    }
    if (zipError == ZIP_ER_MEMORY) {
        throw std::bad_alloc();
    }
    throw DataError(zipError == ZIP_ER_CRC ? "CRC-32 mismatch" : "the data is damaged: " + detail);
}

uint64_t FileRangeSource::read(unsigned char* target, uint64_t capacity) {
    const uint64_t length = std::min(capacity, m_left);
    if (length == 0) {
        return 0;
    }
    std::size_t got = 0;
    if (const int failure = fileio::readAt(m_fd, target, static_cast<std::size_t>(length),
                                           static_cast<off_t>(m_offset), got)) {
        throw JobStop(UZP_ARCHIVE_UNREADABLE,
                      "the archive cannot be read: " + fileio::systemReason(failure));
    }
    if (got == 0) {
        throw DataError("the archive ends inside the entry");
    }
    m_offset += static_cast<uint64_t>(got);
    m_left -= static_cast<uint64_t>(got);
    return static_cast<uint64_t>(got);
}

struct InflatingSource::State {
    explicit State(std::size_t readSize)
        : inputSize(readSize), input(std::make_unique_for_overwrite<unsigned char[]>(readSize)) {}

    z_stream stream{};
    std::size_t inputSize;
    // Left unset: only what a read filled is ever looked at.
    std::unique_ptr<unsigned char[]> input;
    bool inputEnded = false;
    bool streamEnded = false;
};

InflatingSource::InflatingSource(std::unique_ptr<DataSource> compressed, uint64_t compressedSize)
    : m_compressed(std::move(compressed)),
      m_state(std::make_unique<State>(
          static_cast<std::size_t>(std::clamp<uint64_t>(compressedSize, 1, compressedReadSize)))) {
    if (inflateInit2(&m_state->stream, rawDeflateWindowBits) != Z_OK) {
        throw std::bad_alloc();
    }
}

InflatingSource::~InflatingSource() {
    inflateEnd(&m_state->stream);
}

uint64_t InflatingSource::read(unsigned char* target, uint64_t capacity) {
    State& s = *m_state;
    if (s.streamEnded || capacity == 0) {
        return 0;
    }
    const auto room =
        static_cast<uInt>(std::min<uint64_t>(capacity, std::numeric_limits<uInt>::max()));
    s.stream.next_out = target;
    s.stream.avail_out = room;
    while (s.stream.avail_out == room) {
        if (s.stream.avail_in == 0 && !s.inputEnded) {
            const uint64_t got = m_compressed->read(s.input.get(), s.inputSize);
            s.inputEnded = got == 0;
            s.stream.next_in = s.input.get();
            s.stream.avail_in = static_cast<uInt>(got);
        }
        const int result = inflate(&s.stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END) {
            s.streamEnded = true;
            // Bytes after the deflated stream are dropped, but read.
            while (!s.inputEnded) {
                s.inputEnded = m_compressed->read(s.input.get(), s.inputSize) == 0;
            }
            break;
        }
        if (result == Z_BUF_ERROR && s.inputEnded) {
            throw DataError("the compressed data ends early");
        }
        if (result != Z_OK && result != Z_BUF_ERROR) {
            throw DataError(std::string("the compressed data is damaged: ") +
                            (s.stream.msg != nullptr ? s.stream.msg : "inflate failed"));
        }
    }
    return room - s.stream.avail_out;
}

} // namespace unzip32
