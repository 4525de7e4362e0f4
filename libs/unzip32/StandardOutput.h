#pragma once

#include <string_view>

namespace unzip32 {

// Writes all of data to file descriptor 1. A closed pipe is reported, not
// raised as a signal that would end the caller's process. Throws a JobStop
// when the output fails: nothing later could be written either.
void writeToStandardOutput(std::string_view data);

} // namespace unzip32
