#pragma once

#include "EntryInfo.h"
#include "JobError.h"

#include <string>

namespace unzip32 {

// Where a handler reports how each entry ended, in the order of the entries.
class EntryOutcomes {
public:
    virtual ~EntryOutcomes() = default;
    virtual void processed(const EntryInfo& entry) = 0;
    // A JobStop among the faults ends the job.
    virtual void failed(const std::string& entryName, const EntryFault& fault) = 0;
};

// One kind of job, applied entry by entry.
class EntryHandler {
public:
    virtual ~EntryHandler() = default;
    // Handles one entry and reports its outcome, at once or, for work still
    // under way, by the next settle(). Throws an EntryFault when the entry
    // fails at once, a JobStop when the job must end.
    virtual void handle(const EntryInfo& entry) = 0;
    // Reports the outcome of every entry still under way; never throws.
    virtual void settle() {}
    // Whether a fault reported by settle() or handle() ended the job.
    virtual bool stopped() const { return false; }
    // Runs once after the last entry, also when the job stopped early.
    virtual void finish() {}
};

} // namespace unzip32
