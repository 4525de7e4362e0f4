#pragma once

#include "platform/version/ByteSource.h"

#include <string>

namespace platform {

// "a.b.c.d" from the fixed file information of a PE file's version resource;
// empty when the bytes are not a PE file, carry no version resource, or are
// malformed anywhere on the way to it.
std::string readPeVersion(const ByteSource& file);

} // namespace platform
