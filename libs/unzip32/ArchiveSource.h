#pragma once

#include <zip.h>

#include <cstdint>

namespace unzip32 {

// A libzip source over the open archive file that reads it in large
// positioned reads, where libzip's own file source would make two system
// calls for every few kilobytes. The descriptor stays the caller's.
// Returns null (with error set) when the source cannot be made.
zip_source_t* createArchiveSource(int fd, uint64_t fileSize, zip_error_t* error);

} // namespace unzip32
