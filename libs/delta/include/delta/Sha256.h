#pragma once

// SHA-256, of bytes in memory and of a file read in blocks.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace delta {

using Sha256 = std::array<std::uint8_t, 32>;

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
