#pragma once

#include "app/Outcome.h"
#include "platform/toolkit/Toolkit.h"

#include <optional>
#include <string>

namespace updater {

// Unpacking the downloaded package into the temp folder through the unzip
// library, every file without its folder path. Shows its own failures in a
// box: the library's messages, or the failure's number and description.
class PackageUnpacking {
public:
    PackageUnpacking(platform::Toolkit& toolkit, std::string tempFolder);

    enum class Failures {
        shown, // in a box, as the user must hear of them
        quiet, // only returned: the caller has another way
    };

    // The number of a failure the library answered with its messages.
    static constexpr int32_t libraryRefused = platform::ErrorNumber::objectDefinedBase + 0x201;

    // Unpacks temp + "/" + name; the failure's text says why it could not
    // be unpacked, and it is told when it was shown.
    Outcome<void> unpack(const std::string& name, Failures failures = Failures::shown);

private:
    // The box for a failure raised while unpacking, and its text.
    std::string showFailure(const std::string& number, const std::string& description,
                            Failures failures);

    platform::Toolkit& m_toolkit;
    std::string m_tempFolder;
};

} // namespace updater
