#pragma once

#include <string>

namespace platform {

// Removes the folder and everything in it. Symbolic links inside are removed,
// never followed, and a file system mounted inside refuses the removal.
// Without force, a read-only file or folder anywhere inside refuses it too;
// with force, permission bits are widened as far as needed. Every refusal is
// found before anything is removed. Failures raise platform::Error with the
// given source label.
void removeFolderTree(const std::string& path, bool force, const std::string& source);

} // namespace platform
