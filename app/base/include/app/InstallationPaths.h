#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace updater {

// The package's name, in the publisher's folder and in the temp folder.
inline constexpr const char* packageName = "morvane.zip";

// Where everything of one installation lies: its folder followed by a fixed
// suffix. The folder has no trailing "/".
class InstallationPaths {
public:
    explicit InstallationPaths(std::string folder) : m_folder(std::move(folder)) {}

    const std::string& folder() const { return m_folder; }
    std::string tempFolder() const { return m_folder + "/temp"; }
    std::string packageFile() const { return tempFolder() + "/" + packageName; }
    std::string instructionFile() const { return m_folder + "/temp/updater.ini"; }
    std::string application() const { return m_folder + "/morvane.exe"; }
    // The updater's own program, as it is installed.
    std::string updaterProgram() const { return m_folder + "/updater"; }
    std::string errorLog() const { return m_folder + "/NoteError.txt"; }
    // What a keyed updater remembers of the keys it trusts.
    std::string trustRecord() const { return m_folder + "/updater.trust"; }
    // Certificate authorities an administrator trusts besides the system's.
    std::string authorityFile() const { return m_folder + "/updater-ca.pem"; }

private:
    std::string m_folder;
};

// Where the publisher serves the version answer and the package: the hosts
// the build was given (host or host:port, reached over plain HTTP, or with
// their scheme, "https://host:port"), the paths fixed.
struct PublisherAddresses {
    PublisherAddresses(const std::string& versionHost, const std::string& packageHost)
        : versionAnswer(siteOf(versionHost) + "/clientfiles/morvane/version.php"),
          package(siteOf(packageHost) + "/clientfiles/morvane/" + packageName) {}

    static std::string siteOf(const std::string& host) {
        std::string site = host.find("://") == std::string::npos ? "http://" + host : host;
        while (site.ends_with("/")) {
            site.pop_back();
        }
        return site;
    }

    std::string versionAnswer;
    std::string package;

    // The line of the publisher's root chain that brings root set number,
    // served beside the version answer.
    static std::string rootRotation(const std::string& versionAnswer, std::uint64_t number) {
        return versionAnswer.substr(0, versionAnswer.rfind('/') + 1) + "rootset-" +
               std::to_string(number) + ".txt";
    }
};

} // namespace updater
