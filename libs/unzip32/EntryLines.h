#pragma once

#include "EntryInfo.h"

#include <string>
#include <string_view>

namespace unzip32 {

// "  inflating: name", padded the way every per-entry line is, with the
// entry's sizes, method and CRC-32 after it when verbose.
std::string entryLine(std::string_view action, std::string_view shownName, const EntryInfo& entry,
                      bool verbose);

// Saved share in percent, negative when the data grew; 0 for empty data.
int32_t compressionPercent(uint64_t size, uint64_t compressedSize);

// The value as a 32-bit size, 0xFFFFFFFF for anything larger.
uint32_t saturated32(uint64_t value);

} // namespace unzip32
