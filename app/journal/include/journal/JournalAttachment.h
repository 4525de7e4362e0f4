#pragma once

#include "journal/UpdateJournal.h"
#include "platform/files/FileSystem.h"

#include <string>

namespace updater {

// Records the file-system service's changes in a journal while it lives;
// what the temp folder holds is installed as it lies there, not written
// again (the folder goes once the update is complete).
class JournalAttachment {
public:
    JournalAttachment(platform::FileSystem& fileSystem, UpdateJournal& journal,
                      const std::string& tempFolder)
        : m_fileSystem(fileSystem) {
        m_fileSystem.setChangeJournal(&journal);
        m_fileSystem.setSharedSources(tempFolder);
    }
    ~JournalAttachment() {
        m_fileSystem.setSharedSources({});
        m_fileSystem.setChangeJournal(nullptr);
    }
    JournalAttachment(const JournalAttachment&) = delete;
    JournalAttachment& operator=(const JournalAttachment&) = delete;

private:
    platform::FileSystem& m_fileSystem;
};

} // namespace updater
