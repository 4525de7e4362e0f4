#pragma once

#include "testsupport/PublisherKey.h"

#include <string>

namespace testsupport {

// A release folder published as a publisher publishes it, signed with the
// key: `tool --key KEY RELEASE VERSION OUTPUT` (tool is morvane-publish).
// Throws std::runtime_error with what the tool said when it refuses.
void publishRelease(const std::string& tool, const PublisherKey& key, const std::string& release,
                    const std::string& version, const std::string& output);

} // namespace testsupport
