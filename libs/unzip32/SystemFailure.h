#pragma once

#include <cstdint>
#include <string>

namespace unzip32 {

// UZP_DISK_FULL when the disk or quota is full, UZP_WRITE_FAILED otherwise.
int32_t writeFailureCode(int error);

// Throws for a failed write or create: a JobStop with UZP_DISK_FULL when the
// disk or quota is full, an EntryFault with UZP_WRITE_FAILED otherwise; the
// message is what, then the system's words for error.
[[noreturn]] void throwSystemFailure(int error, const std::string& what);

} // namespace unzip32
