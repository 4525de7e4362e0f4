#pragma once

#include "fetch/FetchFailure.h"
#include "fetch/PartialPackage.h"
#include "fetch/TempFolder.h"
#include "journal/JournalRecovery.h"
#include "run/RunDisplay.h"
#include "run/UpdateStages.h"

#include "app/InstallationPaths.h"
#include "app/Outcome.h"
#include "app/StageContext.h"
#include "platform/files/FolderLock.h"
#include "platform/http/NetworkFailure.h"
#include "run/ErrorLog.h"
#include "signature/KeysLine.h"
#include "signature/ReleaseLine.h"

#include <cstdint>
#include <optional>
#include <string>

namespace updater {

// One update run, from the check to the end: it holds the installation's
// lock for as long as it lives, finishes what an earlier update left, asks
// for the version, and on the user's Yes brings the release into the temp
// folder (only the changed files when the signed answer allows it, else
// the whole package), checks it and carries out its instruction file under
// the journal. Whatever way the release comes, it passes the same checks:
// the offered version must be newer than the installed one (with the
// publisher's key), and the temp folder then holds what the whole package
// unpacks to. The window maps what it comes to onto captions and boxes.
class UpdateRun {
public:
    // Takes the lock when no other run holds it; raises platform::Error when
    // it cannot be taken for another reason.
    UpdateRun(UpdateStages& stages, RunDisplay& display, ErrorLog& log,
              const InstallationPaths& paths, const PublisherAddresses& addresses,
              StageContext& context);

    enum class Check {
        busy,        // another run holds the installation (nothing of it read)
        stopped,     // an earlier update could not be finished (logged and shown)
        unreachable, // no usable answer (why, when known, logged)
        latest,      // nothing newer (an older signed offer logged)
        available,
    };
    struct Checked {
        Check outcome;
        // Why there was no usable answer, when it is known (a request
        // given up, an answer a keyed updater does not trust).
        std::string reason;
    };
    Checked check();

    // What the run came to so far, as values: for whoever drives the window
    // and would otherwise have to read its sentences.
    struct Report {
        Check check = Check::busy;
        // With a key, what the version answer's release line came to.
        std::optional<signature::AnswerVerdict> answer;
        // With a key, what the keys line the answer carried came to.
        std::optional<signature::KeysVerdict> keys;
        // With a key, why no release key was trusted, when none was.
        std::optional<KeysRefusal> trust;
        enum class ChangedFiles {
            notTried,
            arrived,
            fellBack, // the whole package came instead
        };
        ChangedFiles changedFiles = ChangedFiles::notTried;
        // Why the changed files alone did not do, when it was a fetch's
        // failure (not one of unpacking or checking what came).
        std::optional<FetchFailureKind> fallback;
        // The number of the failure that stopped the install, when one did.
        std::optional<std::int32_t> failure;
        // What stood between the run and the publisher, when the network
        // stopped the check or the install.
        std::optional<platform::NetworkFailureKind> network;
        bool installed = false;
    };
    const Report& report() const { return m_report; }

    // After the user's Yes; the failure that stopped it, with the
    // installation as it was. A failure a stage raised comes back here as
    // a value the user has not been told of, after the log has been told
    // why the changed files alone were not enough, when that was tried.
    Outcome<void> install();

    // After the success has been shown: the temp folder, then the journal.
    void finish();

private:
    using Release = PackageDownload::Announced;
    // Whether the changed files alone brought the release into the temp
    // folder, and if they were tried and did not, why.
    struct ChangedFiles {
        bool arrived = false;
        std::string fallback;
        std::optional<FetchFailureKind> kind;
    };
    // The check's outcome, recorded in the report.
    Checked checked(Check outcome, std::string reason = {});
    // The install's outcome, recorded in the report.
    Outcome<void> installed(Outcome<void> outcome);
    void requireNewerRelease(const Release& release) const;
    ChangedFiles fetchChangedFiles(const Release& release);
    // The whole package downloaded, checked and unpacked in the temp folder,
    // or why it could not be unpacked (the user has been shown it).
    Outcome<void> takeWholePackage(const Release& release, bool afterChangedFiles);
    void noteFallback(const std::string& fallback);

    UpdateStages& m_stages;
    RunDisplay& m_display;
    ErrorLog& m_log;
    const InstallationPaths& m_paths;
    const PublisherAddresses& m_addresses;
    StageContext& m_context;
    std::optional<platform::FolderLock> m_lock;
    TempFolder m_temp;
    Report m_report;
};

// Tells the log what the start did about an earlier update (and the user,
// when it could not make the installation whole); false then.
bool noteRecovery(const Recovery& recovery, ErrorLog& log);

} // namespace updater
