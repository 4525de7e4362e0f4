#pragma once

#include <string>
#include <vector>

namespace publisher {

// The two files the web server serves, in the served folder.
inline constexpr const char* servedPackageName = "morvane.zip";
inline constexpr const char* servedVersionName = "version.php";

// OUTPUT_FOLDER/clientfiles/morvane, the folder the web server serves.
std::string servedFolderOf(const std::string& outputFolder);
// The path of a served file in the URL the updater asks for.
std::string servedUrlPath(const std::string& name);

// The served folder, made where it is missing. What it made is taken away
// again when the object goes away, or the run is stopped, unless the run
// served something in it (keep), so that a refused or stopped publication
// leaves the output folder as it was.
class ServedFolder {
public:
    // Refuses (PublishError) a served folder in the release folder (the
    // package would hold itself), before anything is made, and one that
    // cannot be made.
    ServedFolder(const std::string& outputFolder, const std::string& releaseRoot);
    ~ServedFolder();
    ServedFolder(const ServedFolder&) = delete;
    ServedFolder& operator=(const ServedFolder&) = delete;

    // Without symbolic links.
    const std::string& path() const { return m_path; }
    void keep();

private:
    void removeMade();

    std::string m_path;
    std::vector<std::string> m_made; // each after its parent
};

} // namespace publisher
