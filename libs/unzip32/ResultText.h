#pragma once

#include <cstdint>
#include <string>

namespace unzip32 {

// The one text of each result code of unzip32.h, as the reporter prints it
// for a failure that has nothing to add.
std::string resultText(int32_t code);

} // namespace unzip32
