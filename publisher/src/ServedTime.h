#pragma once

#include <string>

namespace publisher {

// Web servers name a served file by its modification time in whole seconds
// and its size (ETag, Last-Modified), and caches ask whether it changed by
// those alone: a package or version answer published in the same second as
// the one it replaces, with the same size, would be answered "not
// modified" and a cache would keep serving the earlier one. So the new file's time is made
// at least a second later than the served file's; nothing when none is
// served. PublishError when the time cannot be set.
void laterThanServed(const std::string& newFile, const std::string& servedFile);

} // namespace publisher
