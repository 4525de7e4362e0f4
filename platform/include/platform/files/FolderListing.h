#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The names in a folder, without "." and "..", in the order the system gives
// them; nothing when the folder cannot be read, with errno telling why.
std::optional<std::vector<std::string>> folderEntries(const std::string& path);
// The same for a folder already open; the descriptor stays open.
std::optional<std::vector<std::string>> folderEntries(int folder);

} // namespace platform
