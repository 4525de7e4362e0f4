#pragma once

#include "app/Outcome.h"
#include "app/SourceLabels.h"

#include <optional>
#include <string>
#include <utility>

namespace updater {

// Every failure of fetching only what changed is of one kind: the changed
// files alone did not do, and the whole package comes instead. Its text is
// the reason, for the log should the run fail.
inline constexpr int32_t wholePackageNeeded = platform::ErrorNumber::objectDefinedBase + 0x200;

inline Failure needWholePackage(std::string reason) {
    return {platform::Error(wholePackageNeeded, sources::downloadFile, std::move(reason))};
}

// A reason, or nothing, as the outcome of a fetch.
inline Outcome<void> fetchOutcome(std::optional<std::string> reason) {
    if (reason) {
        return needWholePackage(std::move(*reason));
    }
    return {};
}

// Why a fetch failed, to be told with more around it.
inline const std::string& reasonOf(const Outcome<void>& failed) {
    return failed.failure().error.description();
}

} // namespace updater
