#include "run/PackageUnpacking.h"

#include "app/SourceLabels.h"

#include "platform/Error.h"
#include "text/Ceiling.h"
#include "unzip/CGUnzipFiles.h"

#include <memory>
#include <utility>

namespace updater {

namespace {

constexpr std::size_t shownMessageLines = 50;

} // namespace

PackageUnpacking::PackageUnpacking(platform::Toolkit& toolkit, std::string tempFolder)
    : m_toolkit(toolkit), m_tempFolder(std::move(tempFolder)) {}

Outcome<void> PackageUnpacking::unpack(const std::string& name, Failures failures) {
    try {
        const auto unzip = std::make_unique<CGUnzipFiles>();
        unzip->ZipFileName(m_tempFolder + "/" + name);
        unzip->ExtractDir(m_tempFolder);
        unzip->HonorDirectories(false);
        const int32_t result = unzip->Unzip("", "");
        if (result == 0) {
            return {};
        }
        const std::string messages = unzip->GetLastMessage();
        // An archive can bring thousands of refusals: the box shows the
        // first of them, the log keeps (up to its record's bound) the rest.
        const text::FirstLines shown = text::firstLines(messages, shownMessageLines);
        if (failures == Failures::shown) {
            m_toolkit.msgBox(shown.more == 0
                                 ? messages
                                 : shown.shown + "\u2026 and " + std::to_string(shown.more) +
                                       " more (see NoteError.txt)",
                             platform::MsgBoxStyle::okOnly, "");
        }
        return Failure{platform::Error(libraryRefused, sources::unzipPackage,
                                       "the unzip library answered " + std::to_string(result) +
                                           ": " + messages),
                       failures == Failures::shown};
    } catch (const std::exception& caught) {
        const Failure failure = failureOf(caught, sources::unzipPackage, false);
        return Failure{platform::Error(failure.error.number(), sources::unzipPackage,
                                       showFailure(std::to_string(failure.error.number()),
                                                   failure.error.description(), failures)),
                       failures == Failures::shown};
    }
}

std::string PackageUnpacking::showFailure(const std::string& number, const std::string& description,
                                          Failures failures) {
    const std::string text = number + " " + sources::unzipPackage + " " + description;
    if (failures == Failures::quiet) {
        return text;
    }
    try {
        m_toolkit.msgBox(text, platform::MsgBoxStyle::okOnly, "");
    } catch (const std::exception&) {
        // The run still stops and logs why.
    }
    return text;
}

} // namespace updater
