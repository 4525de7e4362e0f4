#pragma once

#include "JobSettings.h"
#include "Reporter.h"

#include <string>
#include <vector>

namespace zip32 {

enum class EntryAction { Add, Replace, Delete };

struct DoneEntry {
    std::string name;
    EntryAction action;
};

// After the new archive is in place: a line per entry done (with sizes when
// verbose), the totals when verbose, and the archive's own time set to its
// latest entry's when asked.
void reportDone(const std::string& archivePath, const std::vector<DoneEntry>& done,
                const JobSettings& settings, const Reporter& reporter);

} // namespace zip32
