#pragma once

#include "platform/version/ByteSource.h"

#include <string>

namespace platform {

// The file version of an executable as "a.b.c.d": from the version resource
// of a PE file or the package metadata note of an ELF file. Empty for any
// other file, and for one without that information or malformed on the way
// to it.
std::string readFileVersion(const ByteSource& file);

} // namespace platform
