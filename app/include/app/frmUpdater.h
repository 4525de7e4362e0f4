#pragma once

#include "app/ErrorLog.h"
#include "app/InstallationPaths.h"
#include "app/InstructionFile.h"
#include "app/PackageDownload.h"
#include "app/PackageSignatureCheck.h"
#include "app/PackageUnpacking.h"
#include "app/UpdateJournal.h"
#include "app/UpdaterSettings.h"
#include "app/VersionCheck.h"
#include "platform/Services.h"
#include "platform/files/FileSystem.h"
#include "platform/http/InternetTransfer.h"
#include "platform/toolkit/Toolkit.h"

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace updater {

class PackageDelta;

// The updater window's handlers and the update run they drive. The toolkit,
// the controls and the platform services come from the backends picked in
// main. Each stage is a unit of its own, given its services when the window
// is made; the members named here are the window's side of it.
class frmUpdater : public platform::FormEvents {
public:
    frmUpdater(platform::Toolkit& toolkit, platform::UpdaterControls& controls,
               platform::Services& services, UpdaterSettings settings);
    ~frmUpdater() override;

    void Form_Load() override;
    void Form_Activate() override;
    void cmdDownload_Click() override;
    void cmdCancel_Click() override;
    void Form_Close() override;

    // Error log and pause.
    void NoteError(const std::string& formname, const std::string& ErrorContent, bool showMSG);
    void wait(double vSec0nds);

    // Version check.
    void ReadInstalledVersion();
    std::string GetUpdateStatus();

    // Package download; a failure reaches the update run's handler.
    void DownloadFile(const std::string& strURL, const std::string& strDestination);
    void DownloadProgress(const std::string& intPercent);

    // Unpacks temp + "/" + name into the temp folder and shows its own
    // failures; gives back why the package could not be unpacked, nothing
    // when it was.
    std::optional<std::string> UnzipPackage(const std::string& name);
    // Carries out the instruction file and reports its own failures; false
    // when it stopped on one. Every change it makes to the installation is
    // journalled: they become final together once the last line is carried
    // out, and a failure puts the installation back as it was before it
    // reports.
    bool processExtract();
    // Finishes what an earlier update left unfinished (see
    // recoverEarlierUpdate) and logs what it did; false, with the failure
    // logged and shown, when the installation could not be made whole.
    bool finishEarlierUpdate();

    const InstallationPaths& paths() const { return m_paths; }
    std::string packageAddress() const;

    // The day written into log records; the local date unless a test sets it.
    void setToday(std::function<std::tm()> today) { m_errorLog.setToday(std::move(today)); }

private:
    // objFSO, created on first use and kept as long as the window.
    platform::FileSystem& fso();
    // One line of the instruction file; failures go to processExtract.
    void RunUpdateCommand(const std::string& line);
    void requireRoomForInstructions(const std::string& instructions);
    // With the publisher's key set, refuses a downloaded package that does
    // not carry its signature for the version just offered.
    void checkPackageSignature();
    // Empties the temp folder an earlier run left (but for a package cut
    // off there that is the one offered now), or creates it.
    void prepareTempFolder();
    // Fills the temp folder with what the package unpacks to: only the
    // entries the installation lacks when the package's signed manifest
    // allows it, else the whole package downloaded, checked and unpacked.
    // Why unpacking failed (the user has been shown it), or nothing.
    std::optional<std::string> obtainUpdate();
    // The entries the installation lacks, fetched; false when the whole
    // package is to be downloaded (the reason kept for the log).
    bool fetchChangedEntries();
    void showDownloading();
    void showExtracting();
    void emptyTempFolder();
    // Logs why only the changed entries could not be fetched, once the
    // whole package failed as well.
    void noteDeltaFailure();
    // The window after a run that stopped on a failure a stage reported.
    void stopFailedRun();
    // The log's line about the installation after a failed run.
    std::string restorationReport(const Restoration& restoration) const;
    // One step of clearing the journal of a committed update; a failure is
    // logged and left to the next start.
    void tidyAfterCommit(void (UpdateJournal::*step)());

    platform::Toolkit& m_toolkit;
    platform::UpdaterControls& m_controls;
    platform::Services& m_services;
    UpdaterSettings m_settings;
    InstallationPaths m_paths;
    std::unique_ptr<platform::FileSystem> objFSO;
    // The transfer component the package download goes through.
    std::unique_ptr<platform::InternetTransfer> Inet1;
    ErrorLog m_errorLog;
    VersionCheck m_versionCheck;
    PackageDownload m_download;
    PackageSignatureCheck m_signatureCheck;
    PackageUnpacking m_unpacking;
    std::unique_ptr<PackageDelta> m_delta;
    std::string m_deltaFailure;
    UpdateCommands m_commands;
    // The journal of the current run's instruction file.
    std::unique_ptr<UpdateJournal> m_journal;
    bool m_activated = false;
};

} // namespace updater
