#pragma once

#include "fileio/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Random access to the bytes of a file that may be hostile: every read names
// its range, and a range that does not lie wholly inside the bytes fails.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    // The bytes [offset, offset + length), or nothing when they are not all
    // there.
    virtual std::optional<std::string> read(uint64_t offset, size_t length) const = 0;
};

// An open regular file, read with positioned reads.
class FileByteSource : public ByteSource {
public:
    // Nothing when the path is not a regular file that can be opened; errno
    // tells why.
    static std::optional<FileByteSource> open(const std::string& path);
    // The file open on fd, when it is a regular file.
    static std::optional<FileByteSource> of(fileio::UniqueFd fd);

    uint64_t size() const override { return m_size; }
    std::optional<std::string> read(uint64_t offset, size_t length) const override;

private:
    FileByteSource(fileio::UniqueFd fd, uint64_t size) : m_fd(std::move(fd)), m_size(size) {}

    fileio::UniqueFd m_fd;
    uint64_t m_size;
};

// Bytes held in memory.
class MemoryByteSource : public ByteSource {
public:
    explicit MemoryByteSource(std::string_view bytes) : m_bytes(bytes) {}

    uint64_t size() const override { return m_bytes.size(); }
    std::optional<std::string> read(uint64_t offset, size_t length) const override;

private:
    std::string_view m_bytes;
};

// Little- or big-endian integers at offsets in a block of bytes, the
// little-endian ones by the zip format's own reader; an offset whose value
// would run past the end gives nothing.
class ByteReader {
public:
    explicit ByteReader(std::string_view bytes, bool bigEndian = false)
        : m_bytes(bytes), m_bigEndian(bigEndian) {}

    size_t size() const { return m_bytes.size(); }
    bool contains(uint64_t offset, uint64_t length) const {
        return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
    }
    std::optional<uint16_t> u16(uint64_t offset) const;
    std::optional<uint32_t> u32(uint64_t offset) const;
    std::optional<uint64_t> u64(uint64_t offset) const;
    std::string_view bytes(uint64_t offset, uint64_t length) const {
        return contains(offset, length) ? m_bytes.substr(offset, length) : std::string_view{};
    }

private:
    template <typename T> std::optional<T> get(uint64_t offset) const;

    std::string_view m_bytes;
    bool m_bigEndian;
};

} // namespace platform
