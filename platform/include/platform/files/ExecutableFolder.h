#pragma once

#include <string>

namespace platform {

// The folder of the running executable, without a trailing "/"; raises
// platform::Error when the system does not tell.
std::string executableFolder();

} // namespace platform
