#pragma once

#include "fileio/UniqueFd.h"
#include "journal/JournalFolder.h"

#include <cstdint>
#include <optional>
#include <string>

struct stat;

namespace updater {

// Where the entries a journal names lie now, reached without following a
// symbolic link: those of the installation below its folder, those outside
// it below the root. A folder replaced by a link since the journal was
// written leads nowhere.
class JournalPlaces {
public:
    explicit JournalPlaces(const JournalFolder& journal) : m_journal(journal) {}

    // The folder that holds an entry, open, and the entry's name in it.
    struct Place {
        fileio::UniqueFd folder;
        std::string name;
        // Where it lies, for the log.
        std::string path;
        // Why the folder could not be opened (an errno value: ELOOP for a
        // link on the way); 0 when it is open.
        int error = 0;
    };
    Place placeOf(const std::string& recorded);

    // The journal folder, open; -1 with errno set when it cannot be, a link
    // standing there included.
    int journal();

    // Whether the entry status describes (of lstat) changed after the
    // journal began; true where the file system does not say when that was.
    bool changedSinceBegan(const struct stat& status);

private:
    int installation();
    std::optional<std::int64_t> began();

    const JournalFolder& m_journal;
    fileio::UniqueFd m_installation;
    fileio::UniqueFd m_root;
    fileio::UniqueFd m_journalFolder;
    bool m_beganRead = false;
    std::optional<std::int64_t> m_began;
};

} // namespace updater
