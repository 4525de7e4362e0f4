#pragma once

#include <string>

namespace testsupport {

// A small executable carrying a version in its package note, built like the
// installed application.
void writeVersionedExecutable(const std::string& path, const std::string& version);

} // namespace testsupport
