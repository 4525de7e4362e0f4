#pragma once

#include "signature/KeysLine.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace publisher {

// The keys line the served folder keeps beside the answer, as --make-keys
// wrote it.
inline constexpr const char* keysFileName = "keys.txt";

// The served folder's keys line; nothing when it has none. PublishError
// when the file cannot be read or holds no keys line.
std::optional<signature::KeysLine> servedKeysLine(const std::string& servedFolder);

// text as the whole content of path, written beside it and renamed over
// it; PublishError on failure.
void writeServedText(const std::string& path, const std::string& text);

// The release line's later fields with the served keys line in its field,
// when the folder has one; PublishError when the key that signs is not one
// it lists (updaters would refuse the answer).
std::vector<std::pair<std::string, std::string>>
withServedKeysLine(const std::string& servedFolder, const signature::PublicKey& signer,
                   std::vector<std::pair<std::string, std::string>> laterFields);

} // namespace publisher
