#pragma once

#include "zip32.h"

#include <ctime>
#include <optional>
#include <string>

namespace zip32 {

enum class JobKind { Add, Update, Freshen, Delete };

// The kept option record read into plain terms for one call.
struct JobSettings {
    JobKind kind = JobKind::Add;
    bool encrypt = false;
    bool includeHidden = false;
    bool exactTimes = true;
    bool directoryEntries = true;
    bool verbose = false;
    bool quiet = false;
    bool crlfToLf = false;
    bool lfToCrlf = false;
    bool junkFolders = false;
    bool recurse = false;
    bool shortNames = false;
    bool move = false;
    bool junkPrefix = false;
    bool adjustOffsets = false;
    bool archiveTimeFromLatest = false;
    bool comment = false;
    bool repair = false;
    // 0 stores, 1 to 9 deflate at that level.
    int level = 6;
    // Files modified on or after / before these moments are kept.
    std::optional<std::time_t> notBefore;
    std::optional<std::time_t> before;
    // As given, "\" read as "/"; empty for the current folder.
    std::string rootDirectory;
};

// Throws JobFailure with ZP_BAD_ARGUMENT or ZP_BAD_DATE for values that
// cannot be used.
JobSettings readSettings(const ZpOptions& options);

// Local midnight of a date given as mmddyyyy or yyyy-mm-dd; nothing when the
// text is not a real date in one of those forms.
std::optional<std::time_t> readDate(const char* text);

} // namespace zip32
