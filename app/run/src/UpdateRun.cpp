#include "run/UpdateRun.h"

#include "app/SourceLabels.h"

#include "platform/Error.h"
#include "platform/http/NetworkFailure.h"
#include "run/UpdateDecision.h"

namespace updater {

UpdateRun::UpdateRun(UpdateStages& stages, RunDisplay& display, ErrorLog& log,
                     const InstallationPaths& paths, const PublisherAddresses& addresses,
                     StageContext& context)
    : m_stages(stages), m_display(display), m_log(log), m_paths(paths), m_addresses(addresses),
      m_context(context),
      m_lock(platform::FolderLock::takeIfFree(paths.folder(), sources::updateRun)),
      m_temp(paths, context) {}

UpdateRun::Checked UpdateRun::check() {
    if (!m_lock) {
        return checked(Check::busy);
    }
    // The check must see a whole installation, old or new.
    if (!noteRecovery(recoverLockedInstallation(m_paths, m_context.files()), m_log)) {
        return checked(Check::stopped);
    }
    VersionCheck& versions = m_stages.versions;
    versions.readInstalledVersion();
    if (versions.updateStatus() == "UPDATE_AVAILABLE") {
        return checked(Check::available);
    }
    // Only the second answer decides.
    if (versions.updateStatus() == "NA") {
        // A request the network stopped, a web page, or an answer a keyed
        // updater does not trust, is no answer; the log says why.
        if (!versions.refusal().empty()) {
            m_log.note(logLabels::version, versions.refusal(), false);
        }
        return checked(Check::unreachable, versions.refusal());
    }
    if (!versions.notice().empty()) {
        m_log.note(logLabels::version, versions.notice(), false);
    }
    return checked(Check::latest);
}

UpdateRun::Checked UpdateRun::checked(Check outcome, std::string reason) {
    // A clock behind the keys line is said whatever the check came to.
    if (!m_stages.versions.clockNotice().empty()) {
        m_log.note(logLabels::version, m_stages.versions.clockNotice(), false);
    }
    m_report.check = outcome;
    m_report.answer = m_stages.versions.answerVerdict();
    m_report.keys = m_stages.versions.keysVerdict();
    m_report.trust = m_stages.versions.keysRefusal();
    m_report.network = m_stages.versions.networkFailure();
    return {outcome, std::move(reason)};
}

Outcome<void> UpdateRun::installed(Outcome<void> outcome) {
    m_report.installed = static_cast<bool>(outcome);
    if (!outcome) {
        m_report.failure = outcome.failure().error.number();
        m_report.network = platform::networkFailureKind(*m_report.failure);
    }
    return outcome;
}

// The run after the user's Yes, stage by stage: the release line the check
// trusted goes to every stage that needs it; the changed files, or else the
// whole package, leave the release unpacked in the temp folder; its
// instruction file is then carried out under the journal.
Outcome<void> UpdateRun::install() {
    const Release& release = m_stages.versions.release();
    // Why the changed files alone did not do, for the log should the run fail.
    std::string fallback;
    try {
        m_display.busy();
        m_temp.prepare(downloadIdentity(m_addresses.package, release));
        m_display.downloading();
        requireNewerRelease(release);
        const ChangedFiles changed = fetchChangedFiles(release);
        fallback = changed.fallback;
        m_report.fallback = changed.kind;
        if (!changed.arrived) {
            if (auto unpacked = takeWholePackage(release, !fallback.empty()); !unpacked) {
                // The box has told the user; the log tells the administrator why.
                noteFallback(fallback);
                m_log.note(logLabels::stage,
                           "the package could not be unpacked: " +
                               unpacked.failure().error.description(),
                           false);
                return installed(unpacked);
            }
        }
        m_temp.dropPackage();
        m_display.processing();
        if (auto applied = m_stages.instructions.apply(); !applied) {
            return installed(applied);
        }
        m_stages.instructions.removeKept();
        return installed({});
    } catch (const std::exception& caught) {
        // The one place a failure a stage raised becomes the run's value.
        noteFallback(fallback);
        return installed(failureOf(caught, sources::updateRun, false));
    }
}

void UpdateRun::finish() {
    m_temp.remove();
    m_stages.instructions.removeJournal();
}

void UpdateRun::requireNewerRelease(const Release& release) const {
    // Signed, the offer is the version that would be installed: an older
    // release, however well signed, would take the installation back. The
    // check offers nothing older; this holds whatever way the release comes.
    const VersionCheck& versions = m_stages.versions;
    if (release &&
        !movesForward(versions.installedVersion(), text::versionPieces(release->version))) {
        throw platform::Error(platform::ErrorNumber::permissionDenied, sources::packageSignature,
                              "the package was refused: it is signed for version " +
                                  release->version +
                                  ", which is not newer than the installed version " +
                                  versions.installedVersionText());
    }
}

UpdateRun::ChangedFiles UpdateRun::fetchChangedFiles(const Release& release) {
    // Without a manifest the signed answer vouches for, or with a download
    // an earlier run cut off waiting to go on, the whole package comes.
    if (!release || !release->manifest ||
        m_temp.holdsPartOf(downloadIdentity(m_addresses.package, release))) {
        return {};
    }
    m_report.changedFiles = Report::ChangedFiles::fellBack;
    Outcome<void> taken = m_stages.delta.fetch(
        m_addresses.package, *release, m_paths.folder(), m_context.resolve(m_paths.tempFolder()),
        m_context.resolve(m_paths.packageFile()),
        [this](const std::string& path) { return m_context.resolve(path); });
    if (taken) {
        m_display.extracting();
        taken = m_stages.unpacking.unpack(packageName, PackageUnpacking::Failures::quiet);
    }
    if (taken) {
        taken = m_stages.delta.finishUnpacked();
    }
    if (taken) {
        m_report.changedFiles = Report::ChangedFiles::arrived;
        return {true, {}, {}};
    }
    // A file fetched whole because its chunks did not come as listed is part
    // of why, should the log have to say it.
    std::string why = taken.failure().error.description();
    for (const std::string& reason : m_stages.delta.entryFallbacks()) {
        why += "; before that: " + reason;
    }
    return {false, why, fetchFailureKind(taken.failure())};
}

Outcome<void> UpdateRun::takeWholePackage(const Release& release, bool afterChangedFiles) {
    if (afterChangedFiles) {
        // Nothing of them is kept: the whole package comes as it always has.
        m_temp.empty();
        m_display.busy();
        m_display.downloading();
    }
    const signature::ArrivingPackage& arrived =
        m_stages.download.download(m_addresses.package, m_paths.packageFile(), release);
    m_stages.signature.check(arrived, m_stages.versions.offeredVersion(),
                             m_stages.versions.releaseKeys());
    m_display.extracting();
    return m_stages.unpacking.unpack(packageName);
}

void UpdateRun::noteFallback(const std::string& fallback) {
    if (!fallback.empty()) {
        m_log.note(logLabels::stage,
                   "fetching only the files that changed did not work (" + fallback +
                       "), so the whole package was downloaded",
                   false);
    }
}

bool noteRecovery(const Recovery& recovery, ErrorLog& log) {
    switch (recovery.outcome) {
    case Recovery::Outcome::nothing:
        return true;
    case Recovery::Outcome::rolledBack:
    case Recovery::Outcome::finished:
        log.note(logLabels::stage, recovery.report, false);
        return true;
    case Recovery::Outcome::failed:
        log.note(logLabels::stage, recovery.report, true);
        return false;
    }
    return false;
}

} // namespace updater
