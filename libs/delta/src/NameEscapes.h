#pragma once

// The manifest's names written so that a line splits at its blanks: "%",
// space, every byte below 0x20 and 0x7f as %XX, upper-case hex, and no other
// byte.

#include <optional>
#include <string>
#include <string_view>

namespace delta {

std::string escapedName(std::string_view name);

// The name, or nothing when the text has a byte that needs an escape, or an
// escape that is not %XX of such a byte.
std::optional<std::string> unescapedName(std::string_view text);

} // namespace delta
