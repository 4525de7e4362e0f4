#pragma once

// What the two signed lines (a package's comment, the version answer's
// release line) share in how they are written and read.

#include "signature/SignatureLine.h"

#include <optional>
#include <string>
#include <string_view>

namespace signature {

// The value of the field "name=" at the start of rest, up to the next blank
// (or the end); rest then goes on after that blank. Nothing when rest does
// not go on with that field or its value is empty.
std::optional<std::string_view> takeField(std::string_view& rest, std::string_view name);

// A digest in lower-case hex, and back (exactly 128 such digits).
std::string hexOf(const ArchiveDigest& digest);
std::optional<ArchiveDigest> digestFromHex(std::string_view text);

} // namespace signature
