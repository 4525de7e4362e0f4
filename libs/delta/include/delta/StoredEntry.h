#pragma once

// The bytes of an entry stored without compression, taken from the bytes
// of its span: how the manifest is read out of the package, from a file or
// from what a server sent.

#include "delta/PackageDirectory.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace delta {

// The entry's data in spanBytes (the bytes of its span, its local header
// first), or nothing with the reason in why: no local header of its name
// there, compressed or encrypted data, a size that is not its stored size,
// data that runs past the span, or data whose CRC-32 is not the
// directory's.
std::optional<std::string_view> storedEntryBytes(std::span<const unsigned char> spanBytes,
                                                 const DirectoryEntry& entry, std::string& why);

} // namespace delta
