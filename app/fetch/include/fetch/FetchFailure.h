#pragma once

#include "app/Outcome.h"
#include "app/SourceLabels.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace updater {

// Every failure of fetching only what changed ends the same way: the changed
// files alone did not do, and the whole package comes instead. Its kind says
// what an administrator would look at; its text is the reason, for the log
// should the run fail.
enum class FetchFailureKind : std::int32_t {
    // The release or the installation is not made for it: no manifest or
    // directory named, too little installed, the package's table nearly all
    // of it.
    notOffered = 0,
    // The server's answer to a range was not that range: a server or cache
    // without ranges, another range, a body longer or shorter than it.
    rangesRefused = 1,
    // A request failed: no answer, or its transfer cut off.
    transferFailed = 2,
    // Bytes that came are not the ones the signed release line vouches for
    // (a range of a package of another size among them): most often a
    // cache still holding an earlier package.
    notAsSigned = 3,
    // A file here could not be read or written, or changed while read.
    localFiles = 4,
};

// The numbers the kinds take: one range, so that a reader that knows only
// the range takes a kind added later as a failure of the same way.
inline constexpr std::int32_t wholePackageNeeded = platform::ErrorNumber::objectDefinedBase + 0x200;
inline constexpr std::int32_t wholePackageNeededEnd = wholePackageNeeded + 0x40;

inline Failure needWholePackage(FetchFailureKind kind, std::string reason) {
    return {platform::Error(wholePackageNeeded + static_cast<std::int32_t>(kind),
                            sources::downloadFile, std::move(reason))};
}

// The kind of a failure of fetching only what changed; nothing for any
// other failure.
inline std::optional<FetchFailureKind> fetchFailureKind(const Failure& failure) {
    const std::int32_t number = failure.error.number();
    if (number < wholePackageNeeded || number >= wholePackageNeededEnd) {
        return std::nullopt;
    }
    return static_cast<FetchFailureKind>(number - wholePackageNeeded);
}

// Why a fetch failed, to be told with more around it.
inline const std::string& reasonOf(const Outcome<void>& failed) {
    return failed.failure().error.description();
}

// The same failure, its text told with more before it; its kind kept.
inline Failure within(const std::string& before, const Outcome<void>& failed) {
    Failure told = failed.failure();
    told.error = platform::Error(told.error.number(), told.error.source(),
                                 before + told.error.description());
    return told;
}

} // namespace updater
