#pragma once

#include "EntryInfo.h"
#include "JobSettings.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace unzip32 {

// The components an extraction places an entry at below the extraction
// folder: as stored, spaces made underscores when the options ask. Throws as
// storedComponents does.
std::vector<std::string> placedComponents(const EntryInfo& entry, const JobSettings& settings);

// Where a file or link lands: the folders it lies in (none when stored
// folders are dropped) and its name. Throws as placedComponents does, and an
// EntryFault (UZP_UNSAFE_ENTRY) when the name names no file.
struct FileTarget {
    std::vector<std::string> folders;
    std::string name;
};
FileTarget fileTarget(const EntryInfo& entry, const JobSettings& settings);

// What the options make of an entry whose name is taken by the file
// existing, or free (nullptr): freshen writes only over an older file,
// update-newer over an older one or where none is, any other job where none
// is, and over a file when it overwrites or, when it asks, when the caller
// says so.
enum class Writing { skip, write, askTheCaller };
Writing writingOver(const JobSettings& settings, const EntryInfo& entry,
                    const struct stat* existing);

} // namespace unzip32
