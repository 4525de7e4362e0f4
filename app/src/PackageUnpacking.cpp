#include "app/PackageUnpacking.h"

#include "platform/Error.h"
#include "unzip/CGUnzipFiles.h"

#include <memory>
#include <utility>

namespace updater {

PackageUnpacking::PackageUnpacking(platform::Toolkit& toolkit, std::string tempFolder)
    : m_toolkit(toolkit), m_tempFolder(std::move(tempFolder)) {}

std::optional<std::string> PackageUnpacking::unpack(const std::string& name) {
    try {
        const auto unzip = std::make_unique<CGUnzipFiles>();
        unzip->ZipFileName(m_tempFolder + "/" + name);
        unzip->ExtractDir(m_tempFolder);
        unzip->HonorDirectories(false);
        const int32_t result = unzip->Unzip("", "");
        if (result == 0) {
            return std::nullopt;
        }
        const std::string messages = unzip->GetLastMessage();
        m_toolkit.msgBox(messages, platform::MsgBoxStyle::okOnly, "");
        return "the unzip library answered " + std::to_string(result) + ": " + messages;
    } catch (const platform::Error& failure) {
        return showFailure(std::to_string(failure.number()), failure.description());
    } catch (const std::exception& failure) {
        return showFailure(std::to_string(platform::ErrorNumber::invalidCall), failure.what());
    }
}

std::string PackageUnpacking::showFailure(const std::string& number,
                                          const std::string& description) {
    const std::string text = number + " Form1::cmdUnZip_Click " + description;
    try {
        m_toolkit.msgBox(text, platform::MsgBoxStyle::okOnly, "");
    } catch (const std::exception&) {
        // The run still stops and logs why.
    }
    return text;
}

} // namespace updater
