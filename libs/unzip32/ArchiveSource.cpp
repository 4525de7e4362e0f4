#include "ArchiveSource.h"

#include "fileio/Reading.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>

namespace unzip32 {

namespace {

constexpr std::size_t windowSize = 256 * 1024;
// A read away from the last window (a local header looked up while the
// entries are listed) takes only this much: a whole window there would copy
// a quarter megabyte to parse a few dozen bytes.
constexpr std::size_t jumpWindowSize = 4 * 1024;

struct SourceState {
    int fd = -1;
    uint64_t size = 0;
    uint64_t position = 0;
    // The bytes of the file from windowStart, as last read: windowLength of
    // a buffer made at the first read, no larger than the file, and left
    // unset until read into.
    std::unique_ptr<unsigned char[]> window;
    std::size_t windowCapacity = 0;
    std::size_t windowLength = 0;
    uint64_t windowStart = 0;
    // Sorted offsets whose byte reads altered (see createArchiveSource).
    std::shared_ptr<const std::vector<uint64_t>> hidden;
    zip_error_t error{};
};

// Alters each hidden byte among the length read into target from offset on.
void hide(const SourceState& state, unsigned char* target, uint64_t offset, uint64_t length) {
    const std::vector<uint64_t>& hidden = *state.hidden;
    for (auto at = std::lower_bound(hidden.begin(), hidden.end(), offset);
         at != hidden.end() && *at - offset < length; ++at) {
        target[*at - offset] ^= 0x20;
    }
}

// As much as there is up to length, or -1 with errno set.
ssize_t readAtPosition(int fd, void* target, std::size_t length, uint64_t offset) {
    std::size_t got = 0;
    if (const int failure = fileio::readAt(fd, target, length, static_cast<off_t>(offset), got)) {
        errno = failure;
        return -1;
    }
    return static_cast<ssize_t>(got);
}

zip_int64_t readSource(SourceState& state, void* data, zip_uint64_t length) {
    auto* target = static_cast<unsigned char*>(data);
    length = std::min<zip_uint64_t>(length, state.size - std::min(state.position, state.size));
    if (length == 0) {
        return 0;
    }
    const uint64_t windowEnd = state.windowStart + state.windowLength;
    if (state.position < state.windowStart || state.position >= windowEnd) {
        if (length >= windowSize) {
            // Large reads go straight to the caller.
            const ssize_t got = readAtPosition(state.fd, target, length, state.position);
            if (got < 0) {
                zip_error_set(&state.error, ZIP_ER_READ, errno);
                return -1;
            }
            hide(state, target, state.position, static_cast<uint64_t>(got));
            state.position += static_cast<uint64_t>(got);
            return got;
        }
        if (!state.window) {
            state.windowCapacity =
                static_cast<std::size_t>(std::min<uint64_t>(windowSize, state.size));
            // No exception may cross libzip on its way back to the caller.
            state.window.reset(new (std::nothrow) unsigned char[state.windowCapacity]);
            if (!state.window) {
                zip_error_set(&state.error, ZIP_ER_MEMORY, 0);
                return -1;
            }
        }
        const bool sequential = state.windowLength != 0 && state.position == windowEnd;
        const std::size_t wanted =
            sequential ? state.windowCapacity : std::min(state.windowCapacity, jumpWindowSize);
        state.windowLength = 0;
        const ssize_t got = readAtPosition(state.fd, state.window.get(), wanted, state.position);
        if (got < 0) {
            zip_error_set(&state.error, ZIP_ER_READ, errno);
            return -1;
        }
        state.windowLength = static_cast<std::size_t>(got);
        state.windowStart = state.position;
        if (got == 0) {
            return 0;
        }
    }
    const auto offset = static_cast<std::size_t>(state.position - state.windowStart);
    const auto take =
        static_cast<std::size_t>(std::min<zip_uint64_t>(length, state.windowLength - offset));
    std::memcpy(target, state.window.get() + offset, take);
    hide(state, target, state.position, take);
    state.position += take;
    return static_cast<zip_int64_t>(take);
}

zip_int64_t sourceCallback(void* userdata, void* data, zip_uint64_t length,
                           zip_source_cmd_t command) {
    auto& state = *static_cast<SourceState*>(userdata);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        state.position = 0;
        return 0;
    case ZIP_SOURCE_READ:
        return readSource(state, data, length);
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &state.error);
        if (st == nullptr) {
            return -1;
        }
        zip_stat_init(st);
        st->size = state.size;
        st->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&state.error, data, length);
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t position =
            zip_source_seek_compute_offset(state.position, state.size, data, length, &state.error);
        if (position < 0) {
            return -1;
        }
        state.position = static_cast<uint64_t>(position);
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(state.position);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&state.error);
        delete &state;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
            ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_FREE, ZIP_SOURCE_SUPPORTS, -1);
    default:
        zip_error_set(&state.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

zip_source_t* createArchiveSource(int fd, uint64_t fileSize,
                                  std::shared_ptr<const std::vector<uint64_t>> hidden,
                                  zip_error_t* error) {
    auto* state = new (std::nothrow) SourceState;
    if (state == nullptr) {
        zip_error_set(error, ZIP_ER_MEMORY, 0);
        return nullptr;
    }
    state->fd = fd;
    state->size = fileSize;
    state->hidden = std::move(hidden);
    zip_error_init(&state->error);
    zip_source_t* source = zip_source_function_create(sourceCallback, state, error);
    if (source == nullptr) {
        zip_error_fini(&state->error);
        delete state;
    }
    return source;
}

} // namespace unzip32
