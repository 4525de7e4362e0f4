#include "ServerSettings.h"

#include "ServedFolder.h"
#include "ServerSettingsTexts.h"
#include "StagingFolder.h"
#include "fileio/Failure.h"
#include "fileio/Names.h"
#include "publisher/PublishError.h"
#include "text/Pieces.h"

#include <cerrno>
#include <filesystem>
#include <utility>
#include <vector>

namespace publisher {

namespace {

// The path as a regular expression that matches it alone: every character
// but letters, digits, slashes, '_' and '-' escaped.
std::string patternOf(const std::string& path) {
    std::string pattern;
    for (const char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '_' || c == '-';
        if (!plain) {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern;
}

// A file of its own for each text, renamed over the earlier one only once
// it is whole.
void replaceFile(const std::string& folder, const std::string& name, const std::string& text) {
    const std::string written = folder + "/." + name + ".new";
    (void)fileio::removeFile(written); // what a stopped run left
    try {
        writeNewFile(written, text);
    } catch (const PublishError&) {
        (void)fileio::removeFile(written);
        throw;
    }
    if (const int failure = fileio::renameName(written, folder + "/" + name); failure != 0) {
        (void)fileio::removeFile(written);
        throw PublishError("cannot write " + folder + "/" + name + ": " +
                           fileio::systemReason(failure));
    }
}

} // namespace

std::string serverSettingsFolderOf(const std::string& outputFolder) {
    return (std::filesystem::path(outputFolder) / "server-settings").string();
}

void writeServerSettings(const std::string& outputFolder, int answerLifetime) {
    const std::string folder = serverSettingsFolderOf(outputFolder);
    if (const int failure = fileio::makeFolder(folder, 0777); failure != 0 && failure != EEXIST) {
        throw PublishError("cannot write to " + folder + ": " + fileio::systemReason(failure));
    }
    const std::string versionPath = servedUrlPath(servedVersionName);
    const std::string packagePath = servedUrlPath(servedPackageName);
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"@VERSION_PATH@", versionPath},
        {"@PACKAGE_PATH@", packagePath},
        {"@VERSION_PATTERN@", patternOf(versionPath)},
        {"@PACKAGE_PATTERN@", patternOf(packagePath)},
        {"@LIFETIME@", std::to_string(answerLifetime)},
    };
    for (const ServerSettingsText& settings : serverSettingsTexts()) {
        std::string text = settings.text;
        for (const auto& [name, value] : fields) {
            text = text::replaceAll(text, name, value);
        }
        replaceFile(folder, settings.fileName, text);
    }
}

} // namespace publisher
