#include "platform/version/ByteSource.h"

#include "fileio/Reading.h"
#include "zipformat/LittleEndian.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::optional<FileByteSource> FileByteSource::open(const std::string& path) {
    // Non-blocking, so that a named pipe cannot stall the caller; only
    // regular files are read.
    fileio::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        return std::nullopt;
    }
    return of(std::move(fd));
}

std::optional<FileByteSource> FileByteSource::of(fileio::UniqueFd fd) {
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = EISDIR;
        return std::nullopt;
    }
    return FileByteSource(std::move(fd), static_cast<uint64_t>(st.st_size));
}

std::optional<std::string> FileByteSource::read(uint64_t offset, size_t length) const {
    if (offset > m_size || length > m_size - offset) {
        return std::nullopt;
    }
    std::string bytes(length, '\0');
    size_t done = 0;
    if (fileio::readAt(m_fd.get(), bytes.data(), length, static_cast<off_t>(offset), done) != 0 ||
        done != length) {
        // The file shrank or cannot be read.
        return std::nullopt;
    }
    return bytes;
}

template <typename T> std::optional<T> ByteReader::get(uint64_t offset) const {
    if (!contains(offset, sizeof(T))) {
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_bytes.data() + offset);
    if (!m_bigEndian) {
        return static_cast<T>(zipformat::readLittleEndian(bytes, sizeof(T)));
    }
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        value = static_cast<T>((value << 8) | bytes[i]);
    }
    return value;
}

std::optional<uint16_t> ByteReader::u16(uint64_t offset) const {
    return get<uint16_t>(offset);
}
std::optional<uint32_t> ByteReader::u32(uint64_t offset) const {
    return get<uint32_t>(offset);
}
std::optional<uint64_t> ByteReader::u64(uint64_t offset) const {
    return get<uint64_t>(offset);
}

std::optional<std::string> MemoryByteSource::read(uint64_t offset, size_t length) const {
    if (offset > m_bytes.size() || length > m_bytes.size() - offset) {
        return std::nullopt;
    }
    return std::string(m_bytes.substr(offset, length));
}

} // namespace platform
