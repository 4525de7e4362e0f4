#pragma once

#include "JobSettings.h"

#include <string>

namespace zip32 {

// The entry name of a file or folder: relative to root for what lies below
// it, the whole path without its leading "/" otherwise; the file name alone
// when folder names are junked; upper-case 8.3 components when short names
// are forced. Never absolute, never with "..". Empty for the root itself.
std::string storedName(const std::string& root, const std::string& path,
                       const JobSettings& settings);

// One name component in upper-case 8.3 form: at most eight characters, a
// dot and three more, letters, digits and a few signs only.
std::string shortName(const std::string& component);

} // namespace zip32
