#pragma once

#include "app/InstallationPaths.h"
#include "app/Outcome.h"
#include "app/StageContext.h"
#include "platform/Services.h"
#include "platform/files/FileSystem.h"
#include "platform/http/InternetTransfer.h"
#include "platform/toolkit/Toolkit.h"
#include "run/ErrorLog.h"
#include "run/UpdateRun.h"
#include "run/UpdaterSettings.h"

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace updater {

// The updater window: its handlers, and the operations of each stage as the
// window offers them. The toolkit, the controls and the platform services
// come from the backends picked in main. An update run (UpdateRun) owns
// the sequence of the stages; the window starts it, asks the user, and
// shows what it came to.
class frmUpdater : public platform::FormEvents, private StageContext {
public:
    frmUpdater(platform::Toolkit& toolkit, platform::UpdaterControls& controls,
               platform::Services& services, UpdaterSettings settings);
    ~frmUpdater() override;

    void Form_Load() override;
    void Form_Activate() override;
    void cmdDownload_Click() override;
    void cmdCancel_Click() override;
    void Form_Close() override;

    // The design's own operations, kept under its names: each hands the
    // call to its stage (the run calls the stages directly).

    // Error log and pause.
    void NoteError(const std::string& formname, const std::string& ErrorContent, bool showMSG);
    void wait(double vSec0nds);

    // Version check.
    void ReadInstalledVersion();
    std::string GetUpdateStatus();

    // Package download; a failure is raised to the caller.
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

    const InstallationPaths& paths() const { return m_paths; }
    // What the last run came to, as values; a run that raised before its
    // check leaves the report of none.
    const UpdateRun::Report& lastRun() const { return m_lastRun; }

    // The day written into log records; the local date unless a test sets it.
    void setToday(std::function<std::tm()> today) { m_errorLog.setToday(std::move(today)); }

private:
    // What the stages are given.
    void pump() override;
    void pumpWhileBusy() override;
    void pause(double seconds) override;
    platform::FileSystem& files() override;

    // objFSO, created on first use and kept as long as the window.
    platform::FileSystem& fso();
    // One line of the instruction file; failures go to processExtract.
    void RunUpdateCommand(const std::string& line);
    // One run from the check to its end; a failure nobody has told yet.
    // installing: whether the user has said Yes.
    Outcome<void> runUpdate(bool& installing);
    // A failure of the run nobody has told: logged and shown in a box.
    void tell(const Failure& failure, bool installing);
    void showUnreachable(const std::string& reason);
    void showLatest();
    // Another run holds the installation: said, and logged, as no failure.
    void showBusy();

    platform::Toolkit& m_toolkit;
    platform::UpdaterControls& m_controls;
    platform::Services& m_services;
    UpdaterSettings m_settings;
    InstallationPaths m_paths;
    PublisherAddresses m_addresses;
    std::unique_ptr<platform::FileSystem> objFSO;
    // The transfer component the package download goes through.
    std::unique_ptr<platform::InternetTransfer> Inet1;
    ErrorLog m_errorLog;
    std::unique_ptr<RunDisplay> m_display;
    std::unique_ptr<UpdateStages> m_stages;
    bool m_activated = false;
    UpdateRun::Report m_lastRun;
};

} // namespace updater
