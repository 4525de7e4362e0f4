#pragma once

#include <zip.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace unzip32 {

// A libzip source over the open archive file that reads it in large
// positioned reads, where libzip's own file source would make two system
// calls for every few kilobytes. The descriptor stays the caller's.
// While hidden names offsets, the byte at each reads altered: the caller
// hides end record signatures from libzip's search while it opens the
// archive, and empties hidden once it has. Returns null (with error set)
// when the source cannot be made.
zip_source_t* createArchiveSource(int fd, uint64_t fileSize,
                                  std::shared_ptr<const std::vector<uint64_t>> hidden,
                                  zip_error_t* error);

} // namespace unzip32
