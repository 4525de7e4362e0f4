#pragma once

// SHA-256, of bytes in memory and of a file read in blocks.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace delta {

using Sha256 = std::array<std::uint8_t, 32>;

// The digest of bytes that arrive in pieces. Throws DeltaError, naming
// what, when the digest cannot be computed.
class Sha256Digest {
public:
    explicit Sha256Digest(std::string what);
    ~Sha256Digest();
    Sha256Digest(Sha256Digest&&) noexcept;
    Sha256Digest& operator=(Sha256Digest&&) noexcept;

    void add(const void* data, std::size_t size);
    // The digest of every byte added; nothing may be added after it.
    Sha256 finish();

private:
    struct Context;
    std::string m_what;
    std::unique_ptr<Context> m_context;
};

Sha256 sha256Of(std::string_view bytes);

// Of the whole file open on fd, read from its start in blocks whatever its
// size; path names it in a failure. Throws DeltaError.
Sha256 sha256OfOpenFile(int fd, const std::string& path);

// Of the file at path, opened without following a symbolic link and without
// waiting (a FIFO in its place is refused, not waited on). Throws DeltaError
// with the path and the system's reason.
Sha256 sha256OfFile(const std::string& path);

// 64 lower-case hex digits, and back (nothing for any other text).
std::string hexOf(const Sha256& digest);
std::optional<Sha256> sha256FromHex(std::string_view text);

} // namespace delta
