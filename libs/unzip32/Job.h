#pragma once

#include "EntryHandler.h"
#include "EntrySelection.h"
#include "JobSettings.h"
#include "Reporter.h"
#include "unzip32.h"

#include <cstdint>

namespace unzip32 {

// One call of Wiz_SingleEntryUnzip: opens the archive, handles every selected
// entry, fills in the totals and returns the result code.
class Job : private EntryOutcomes {
public:
    Job(const JobSettings& settings, const EntrySelection& selection, UzpCallbacks& callbacks);
    int32_t run();

private:
    void runEntries();
    void handleEntries(class Archive& archive, EntryHandler& handler);
    void processed(const EntryInfo& entry) override;
    void failed(const std::string& entryName, const EntryFault& fault) override;
    void noteFailure(int32_t code);
    void fillTotals();

    const JobSettings& m_settings;
    const EntrySelection& m_selection;
    UzpCallbacks& m_callbacks;
    Reporter m_reporter;
    int32_t m_result = UZP_OK;
    bool m_stopped = false;
    uint64_t m_selected = 0;
    uint64_t m_processed = 0;
    uint64_t m_failed = 0;
    uint64_t m_size = 0;
    uint64_t m_compressedSize = 0;
};

} // namespace unzip32
