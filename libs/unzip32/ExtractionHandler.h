#pragma once

#include "AccessRights.h"
#include "EntryHandler.h"
#include "EntrySelection.h"
#include "EntryStream.h"
#include "EntryTarget.h"
#include "EntryWorkers.h"
#include "FolderTree.h"
#include "JobContext.h"

#include <optional>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace unzip32 {

// Unpacks entries into files, folders and symbolic links below the
// extraction folder, by the overwrite rules of the options.
class ExtractionHandler : public EntryHandler {
public:
    // Checks first that the folder's file system has room for what the job
    // writes (see requireRoom).
    ExtractionHandler(const JobContext& context, const EntrySelection& selection);
    void handle(const EntryInfo& entry) override;
    void settle() override;
    bool stopped() const override { return m_stopped; }
    // Gives folders their recorded permissions and times, now that nothing
    // more is written into them.
    void finish() override;

private:
    void handleFolder(const EntryInfo& entry, const std::vector<std::string>& components);
    void handleFileOrLink(const EntryInfo& entry, const FileTarget& target);
    // Writes the file or link in this thread, by the overwrite rules.
    void writeInPlace(const EntryInfo& entry, int folderFd,
                      const std::vector<std::string>& components, const std::string& name,
                      const std::string& shown);
    bool makeFolder(const EntryInfo& entry, const std::vector<std::string>& components);
    // Unpacks the file on a worker thread; the file is in the folder the
    // tree opened last.
    void handOver(const EntryInfo& entry, const std::string& name, const std::string& shown);
    // Whether an entry needs nothing of this thread to be unpacked.
    bool workersTake(const EntryInfo& entry) const;
    // Waits for the files still to be put in place where one of them lands
    // at a folder these components would make or open.
    void settleUnder(const std::vector<std::string>& components);
    void report(std::vector<EntryWorkers::Outcome> outcomes);
    // Reports the files put in place so far, without waiting.
    void collectOutcomes();
    // Asks the caller whether to replace the existing file, unless it said
    // to replace none.
    bool callerReplaces(const std::string& shownPath);
    void writeFile(const EntryInfo& entry, int folderFd, const std::string& name);
    void writeLink(const EntryInfo& entry, int folderFd, const std::vector<std::string>& folders,
                   const std::string& name);
    void setFolderAttributes(const std::vector<std::string>& components,
                             const TargetAttributes& attributes);

    const JobContext& m_context;
    const JobSettings& m_settings;
    FolderTree m_tree;
    // Files are unpacked on worker threads when no decision depends on what
    // is on disk; otherwise everything happens on the calling thread.
    std::optional<EntryWorkers> m_workers;
    bool m_stopped = false;
    mode_t m_umask;
    // After the caller's "overwrite none", no existing file is replaced.
    bool m_replaceNone = false;
    std::vector<std::pair<std::vector<std::string>, TargetAttributes>> m_folderAttributes;
};

} // namespace unzip32
