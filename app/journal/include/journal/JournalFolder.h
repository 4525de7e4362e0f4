#pragma once

#include <string>
#include <utility>
#include <vector>

namespace updater {

// Where an update's journal lies: a hidden folder of the installation,
// outside temp. It holds the records ("records" while the update runs,
// renamed "complete" at the update's one commit point), the files the
// update replaced ("kept-<number>", each the very file that was installed)
// and, when the update brings the updater's own program, the new program
// ("program"), which takes its place only once the update is complete: an
// updater never meets an unfinished journal written by a later one.
class JournalFolder {
public:
    static constexpr const char* folderName = ".updater-journal";

    explicit JournalFolder(const std::string& installFolder)
        : m_installFolder(installFolder), m_path(installFolder + "/" + folderName) {}

    const std::string& installFolder() const { return m_installFolder; }
    const std::string& path() const { return m_path; }
    std::string records() const { return m_path + "/records"; }
    std::string complete() const { return m_path + "/complete"; }
    static std::string keptName(unsigned number) { return "kept-" + std::to_string(number); }
    std::string kept(unsigned number) const { return m_path + "/" + keptName(number); }
    std::string program() const { return m_path + "/program"; }

    // Whether anything lies at the journal's place.
    bool exists() const;
    // Whether what lies there is a folder, not a link to one: a journal
    // that is a link would lead its removals elsewhere. Raises
    // platform::Error when it is not.
    void requireFolder() const;
    // True when path names the journal folder or anything in it, in any
    // letter case and through any link.
    bool holds(const std::string& path) const;
    // Puts the new program the journal holds in the updater's place and
    // makes that durable; false when it holds none. Raises platform::Error.
    bool placeProgram() const;
    // Removes the kept files; how many there were. Raises platform::Error.
    unsigned removeKept() const;
    // Removes the journal folder with everything in it and makes that
    // durable. Raises platform::Error.
    void remove() const;

private:
    std::vector<std::string> entries() const;

    std::string m_installFolder;
    std::string m_path;
};

} // namespace updater
