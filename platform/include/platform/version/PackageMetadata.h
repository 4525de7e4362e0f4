#pragma once

#include <string>
#include <string_view>

namespace platform {

// The "version" string of a package metadata JSON object, as a file version:
// its leading dot-separated decimal numbers (at most four), padded to four
// with 0. Empty when the text is not a JSON object, has no "version" string
// at its top level, or that string does not begin with a number.
std::string packageMetadataVersion(std::string_view json);

} // namespace platform
