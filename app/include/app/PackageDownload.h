#pragma once

#include "platform/http/InternetTransfer.h"

#include <functional>
#include <string>

namespace updater {

// The package's download: one GET through the window's transfer component,
// the body written in 1024-byte chunks to the package file and the progress
// handed to the window after each chunk, with the window kept alive while
// it waits. A failure is raised to the caller, and so is a body that ends
// before its Content-Length: a cut-off package is never taken as whole.
class PackageDownload {
public:
    // pump keeps the window alive; resolve finds a path's letter case on
    // disk; progress takes the percentage received as decimal text.
    PackageDownload(platform::InternetTransfer& transfer, std::function<void()> pump,
                    std::function<std::string(const std::string&)> resolve,
                    std::function<void(const std::string&)> progress);

    // Returns once the whole package is in destination.
    void download(const std::string& url, const std::string& destination);

private:
    platform::InternetTransfer& m_transfer;
    std::function<void()> m_pump;
    std::function<std::string(const std::string&)> m_resolve;
    std::function<void(const std::string&)> m_progress;
};

} // namespace updater
