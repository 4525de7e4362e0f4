#pragma once

#include "app/UpdaterSettings.h"
#include "platform/FileSystem.h"
#include "platform/InternetTransfer.h"
#include "platform/Toolkit.h"

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// A path field of the instruction file: upper-cased, then every
// "APP_PATH" replaced by the installation folder as it is.
std::string expandPathField(const std::string& field, const std::string& installFolder);

// The updater window's handlers and the update run they drive. The toolkit
// and the controls come from the backend picked in main.
class frmUpdater : public platform::FormEvents {
public:
    frmUpdater(platform::Toolkit& toolkit, platform::UpdaterControls& controls,
               UpdaterSettings settings);
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
    virtual void DownloadFile(const std::string& strURL, const std::string& strDestination);
    void DownloadProgress(const std::string& intPercent);

    // Unpacks temp + "/" + name into the temp folder and shows its own
    // failures; gives back why the package could not be unpacked, nothing
    // when it was.
    virtual std::optional<std::string> UnzipPackage(const std::string& name);
    // Carries out the instruction file and reports its own failures; false
    // when it stopped on one.
    virtual bool processExtract();

    const std::string& installFolder() const { return m_settings.installFolder; }
    std::string tempFolder() const;
    std::string packageFile() const;
    std::string packageAddress() const;

    // The day written into log records; the local date unless a test sets it.
    void setToday(std::function<std::tm()> today) { m_today = std::move(today); }

protected:
    platform::Toolkit& toolkit() { return m_toolkit; }
    platform::UpdaterControls& controls() { return m_controls; }
    // objFSO, created on first use and kept as long as the window.
    platform::FileSystem& fso();

private:
    // One line of the instruction file; failures go to processExtract.
    void RunUpdateCommand(const std::string& line);
    // The text shown for a failure raised while unpacking.
    std::string showUnzipFailure(const std::string& number, const std::string& description);
    // Empties the temp folder an earlier run left, or creates it.
    void prepareTempFolder();
    // The window after a run that stopped on a failure a stage reported.
    void stopFailedRun();

    platform::Toolkit& m_toolkit;
    platform::UpdaterControls& m_controls;
    UpdaterSettings m_settings;
    std::unique_ptr<platform::FileSystem> objFSO;
    // The transfer component the package download goes through.
    platform::InternetTransfer Inet1;
    std::function<std::tm()> m_today;
    bool m_activated = false;

    std::string strLocalVer1;
    std::string strLocalVer2;
    std::string strLocalVer3;
    std::string strServerVer1;
    std::string strServerVer2;
    std::string strServerVer3;
};
