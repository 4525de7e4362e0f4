#pragma once

#include <string>
#include <utility>
#include <vector>

namespace updater {

// Where an update's journal lies: a hidden folder of the installation,
// outside temp. It holds the records ("records" while the update runs,
// renamed "complete" at the update's one commit point) and the files the
// update replaced ("kept-<number>", each the very file that was installed).
class JournalFolder {
public:
    explicit JournalFolder(const std::string& installFolder)
        : m_installFolder(installFolder), m_path(installFolder + "/.updater-journal") {}

    const std::string& installFolder() const { return m_installFolder; }
    const std::string& path() const { return m_path; }
    std::string records() const { return m_path + "/records"; }
    std::string complete() const { return m_path + "/complete"; }
    std::string kept(unsigned number) const { return m_path + "/kept-" + std::to_string(number); }

    // Whether anything lies at the journal's place.
    bool exists() const;
    // True when path names the journal folder or anything in it, in any
    // letter case and through any link.
    bool holds(const std::string& path) const;
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
