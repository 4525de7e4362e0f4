#pragma once

#include <string>

namespace testsupport {

// Copies the folder tree at from to the new folder to as a user copies an
// installation (cp -a): modes, times, links and second names as they are.
// Throws std::runtime_error when the copy fails.
void copyTree(const std::string& from, const std::string& to);

} // namespace testsupport
