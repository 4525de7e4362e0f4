#pragma once

#include "publisher/CommandLine.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace publisher {

// The keys line, made offline from the root key files:
//
//   morvane-publish --make-keys --root FILE [--root FILE ...] --threshold N
//       [--valid-days N] [--new-root FILE ... --new-threshold N]
//       OUTPUT_FOLDER RELEASE_PUBLIC_KEY [RELEASE_PUBLIC_KEY ...]
//
// writes OUTPUT_FOLDER/clientfiles/morvane/keys.txt, which publishing and
// --renew carry into the version answer; with --new-root, also the chain's
// line rootset-N.txt that moves updaters from the present roots to the new
// ones (signed by both sets).
struct KeysCommand {
    std::vector<std::string> rootKeyFiles;
    std::uint32_t threshold = 0;
    std::vector<std::string> newRootKeyFiles;
    std::uint32_t newThreshold = 0;
    int validDays = 365;
    std::string outputFolder;
    // Base64 of each release key's 32 bytes.
    std::vector<std::string> releaseKeys;
};

inline constexpr const char* makeKeysOption = "--make-keys";

// Reads the arguments after --make-keys.
std::variant<KeysCommand, UsageMistake> readKeysCommand(const std::vector<std::string>& arguments);

// Makes the lines; PublishError when a line would not be trusted (fewer
// distinct roots than the threshold, a release key that is not one) or a
// file cannot be written.
void makeKeys(const KeysCommand& command, std::ostream& report);

extern const char* const keysUsage;

} // namespace publisher
