#pragma once

#include "fileio/UniqueFd.h"

#include <string>
#include <sys/types.h>
#include <time.h>

namespace platform {

// The new content of a file, written in the target's folder and renamed over
// the target only when complete, so that the target is always either the old
// file or the new one. The content is written to a file without a name where
// the file system allows it, so that a process killed while writing leaves
// nothing behind; it gets its temporary name only for the instant between
// the link and the rename. Elsewhere it is written under the temporary name.
// Until the rename the temporary file is removed on every way out. Failures
// raise platform::Error with the given source label and name the target,
// the file the user knows, never the temporary one.
class ReplacementFile {
public:
    ReplacementFile(const std::string& target, std::string source);
    // The file open on content becomes the new content itself, not a byte
    // written: it gets its temporary name here and takes the target's place
    // at the commit. Raises when it cannot have a second name there.
    struct Shared {
        int content;
    };
    ReplacementFile(const std::string& target, std::string source, Shared shared);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Appends everything readable from the descriptor.
    void copyFrom(int input, const std::string& inputPath);
    // When the content and the new name reach the disk: at once, or later,
    // when the caller syncs the file system before anyone counts on them.
    enum class Durability { now, later };

    // Sets the permission bits (and, when given, the access and modification
    // times) and flushes the content to disk (Durability::now).
    void finish(mode_t permissions, const struct timespec* times = nullptr,
                Durability durability = Durability::now);
    // Gives the finished file its temporary name if it has none yet, renames
    // it over the target, closes it and syncs the target's folder, so that
    // the new name is on disk when it returns (Durability::now).
    void commit(Durability durability = Durability::now);

    // Removes from the folder the temporary files that replacements killed
    // before their rename left behind; they are known by their names.
    static void removeLeftovers(const std::string& folder);
    // The same in the folder open on folder, which stays open.
    static void removeLeftovers(int folder);

private:
    // Links the nameless file under a fresh temporary name beside the target.
    void linkUnderTemporaryName();

    std::string m_target;
    std::string m_source;
    std::string m_temporaryPath;
    fileio::UniqueFd m_fd;
    bool m_nameless = false;
    bool m_linked = false;
    bool m_committed = false;
};

} // namespace platform
