#pragma once

#include <string>
#include <utility>

namespace updater {

// Where everything of one installation lies: its folder followed by a fixed
// suffix. The folder has no trailing "/".
class InstallationPaths {
public:
    explicit InstallationPaths(std::string folder) : m_folder(std::move(folder)) {}

    const std::string& folder() const { return m_folder; }
    std::string tempFolder() const { return m_folder + "/temp"; }
    std::string packageFile() const { return m_folder + "/temp/morvane.zip"; }
    std::string instructionFile() const { return m_folder + "/temp/updater.ini"; }
    std::string application() const { return m_folder + "/morvane.exe"; }
    // The updater's own program, as it is installed.
    std::string updaterProgram() const { return m_folder + "/updater"; }
    std::string errorLog() const { return m_folder + "/NoteError.txt"; }

private:
    std::string m_folder;
};

} // namespace updater
