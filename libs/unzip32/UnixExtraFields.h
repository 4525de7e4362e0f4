#pragma once

#include "EntryInfo.h"

#include <zip.h>

namespace unzip32 {

// Takes the exact modification time and the owner and group from the extra
// fields that Unix zip tools add, when the entry has them.
void readUnixExtraFields(zip_t* archive, uint64_t index, EntryInfo& info);

} // namespace unzip32
