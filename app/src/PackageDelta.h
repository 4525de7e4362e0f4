#pragma once

#include "RangeFetch.h"

#include "delta/Manifest.h"
#include "platform/http/InternetTransfer.h"
#include "signature/ReleaseLine.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace updater {

// An update that fetches only what the installation lacks, from the one
// package every updater downloads. The package's tail (its directory) and
// its manifest come first, by range requests; the manifest must be the one
// the signed release line names. Every entry whose installed file already
// has the listed size and SHA-256 is copied from the installation into the
// temp folder under the name unpacking gives it; every other entry's bytes
// are fetched and gathered, with a directory of their own, into a small
// archive that unpacking then takes in place of the package. After that
// unpacking, each of those files must be as the manifest lists it. Then the
// temp folder holds what unpacking the whole package would have put there.
//
// Nothing here is ever shown or raised: whatever does not hold is a reason,
// and the caller downloads the whole package instead.
class PackageDelta {
public:
    using Progress = std::function<void(std::uint64_t received, std::uint64_t total)>;

    PackageDelta(platform::InternetTransfer& transfer, std::function<void()> pump,
                 Progress progress);

    // Fetches for the release at url into tempFolder, the gathered entries
    // into archive (a path in tempFolder), taking unchanged ones from
    // installFolder, whose paths resolve finds in their letter case.
    std::optional<std::string> fetch(const std::string& url, const signature::ReleaseLine& release,
                                     const std::string& installFolder,
                                     const std::string& tempFolder, const std::string& archive,
                                     const std::function<std::string(const std::string&)>& resolve);

    // After archive was unpacked into the temp folder: the reason a file it
    // brought is not the one listed, or nothing.
    std::optional<std::string> checkUnpacked() const;

private:
    struct Gathered;
    std::optional<std::string> gather(const std::string& url, std::uint64_t total,
                                      const std::vector<Gathered>& entries, const std::string& tail,
                                      std::uint64_t tailOffset, const std::string& archive,
                                      std::uint64_t received, std::uint64_t planned);

    RangeFetch m_fetch;
    std::function<void()> m_pump;
    Progress m_progress;
    // The files the gathered archive brings: name in temp, and as listed.
    std::vector<std::pair<std::string, delta::ManifestEntry>> m_fetched;
};

// The last part of an entry name, the name unpacking without folders gives
// it ("\" read as "/"); empty for a folder's name.
std::string unpackedName(const std::string& entryName);

} // namespace updater
