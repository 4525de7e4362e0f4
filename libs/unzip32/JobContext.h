#pragma once

#include "Archive.h"
#include "EntryHandler.h"
#include "JobSettings.h"
#include "PasswordPrompt.h"
#include "Reporter.h"
#include "unzip32.h"

#include <span>

namespace unzip32 {

// What every kind of job shares while it runs.
struct JobContext {
    const JobSettings& settings;
    const Reporter& reporter;
    const UzpCallbacks& callbacks;
    Archive& archive;
    EntryOutcomes& outcomes;
    // The one read buffer of the job: memory does not grow with the data.
    std::span<char> buffer;
    // The password that last opened an entry of this job.
    KnownPassword& password;
};

} // namespace unzip32
