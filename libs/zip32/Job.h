#pragma once

#include "ArchiveFile.h"
#include "ArchiveHandle.h"
#include "Chunking.h"
#include "FileSource.h"
#include "JobSettings.h"
#include "Reporter.h"
#include "Selection.h"
#include "Summary.h"
#include "zip32.h"

#include <string>
#include <vector>

namespace zip32 {

// One ZpArchive call: chooses what to add or delete, writes the new archive
// beside the old one, puts it in place, reports, and only then moves files.
class Job {
public:
    Job(const JobSettings& settings, const ZpCallbacks& callbacks, const Chunking& chunking,
        std::string archivePath, std::vector<std::string> names);

    // A ZP_* code; failures before the archive is in place throw JobFailure.
    int32_t run();

private:
    std::string rootFolder() const;
    // Chooses what to add or replace; whether the names selected anything.
    bool planAdditions(zip_t* archive, const std::string& root, const ArchiveFile& file,
                       std::vector<SelectedItem>& additions, std::vector<DoneEntry>& done) const;
    std::string askPassword(const std::string& archivePath) const;
    void askComment(zip_t* archive) const;
    void closeArchive(ArchiveHandle& archive, const ArchiveFile& file,
                      const ReadFailure& readFailure, const ChunkReport& chunkReport) const;

    const JobSettings& m_settings;
    const ZpCallbacks& m_callbacks;
    const Chunking& m_chunking;
    Reporter m_reporter;
    std::string m_archivePath;
    std::vector<std::string> m_names;
};

} // namespace zip32
