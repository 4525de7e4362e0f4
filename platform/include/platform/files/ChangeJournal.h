#pragma once

#include <string>

struct stat;

namespace platform {

// Where the file-system service records each change it is about to make,
// so that a run that fails part way can put everything back as it was. The
// service calls one of the first three before the change and makeDurable
// right before the change shows on disk; any of them may raise
// platform::Error, and then the change is not made.
class ChangeJournal {
public:
    virtual ~ChangeJournal() = default;

    // The entry at target (a file, or a link itself) is about to be
    // replaced: keep it as it is.
    virtual void keepReplaced(const std::string& target) = 0;
    // A file is about to be made at target, where nothing is: the file
    // source describes (of fstat), or a copy of it that keeps its
    // modification time.
    virtual void noteAdded(const std::string& target, const struct stat& source) = 0;
    // The folder is about to be made.
    virtual void noteFolder(const std::string& folder) = 0;
    // Where the new file for target is to be made: target itself, or a place
    // of the journal's own for a file it puts in place only once the update
    // is complete (the updater's own program, which must never be older than
    // an unfinished journal it would have to read).
    virtual std::string placeFor(const std::string& target) = 0;
    // Every record made so far must be on disk when this returns.
    virtual void makeDurable() = 0;
    // The changes in the folder at path (its files' contents and names, its
    // own names) are left to be made durable before the update counts as
    // complete, with the whole file system that holds it at once; until
    // then the records are what a power cut is undone by.
    virtual void syncBeforeCommit(const std::string& path) = 0;
};

} // namespace platform
