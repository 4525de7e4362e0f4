#pragma once

#include <cstddef>

namespace zip32 {

// Writes every byte, retrying after a signal; 0, or the errno of the failure.
int writeAll(int fd, const void* data, std::size_t length);

} // namespace zip32
