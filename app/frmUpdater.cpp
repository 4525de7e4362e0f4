#include "app/frmUpdater.h"

#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"

#include <exception>
#include <utility>

namespace {

const char* const appTitleText = "Morvane Updater";
const char* const offerText = "New version found, Do you want to update";
const char* const downloadingText = "Downloading...";
const char* const extractingText = "Extracting Files";
const char* const processingText = "Procesing Updates";
const char* const successText = "Update Success, Please restart application";
const char* const latestText = "You are using the latest version of Morvane";
const char* const exitQuestionText = "Update in progress,Do you want to stop and exit";
const char* const runSourceLabel = "Updater: Download";

std::tm localToday() {
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);
    return today;
}

} // namespace

using platform::MousePointer;
using platform::MsgBoxAnswer;
using platform::MsgBoxStyle;

frmUpdater::frmUpdater(platform::Toolkit& toolkit, platform::UpdaterControls& controls,
                       UpdaterSettings settings)
    : m_toolkit(toolkit), m_controls(controls), m_settings(std::move(settings)),
      m_today(localToday) {
    // The unzip library's callbacks ask the user through this window's toolkit.
    CodeModule::useToolkit(toolkit);
    // The download waits for the network with the window kept alive.
    Inet1.setWaitHandler([this] { m_toolkit.doEvents(); });
}

frmUpdater::~frmUpdater() = default;

std::string frmUpdater::tempFolder() const {
    return m_settings.installFolder + "/temp";
}

std::string frmUpdater::packageFile() const {
    return tempFolder() + "/morvane.zip";
}

std::string frmUpdater::packageAddress() const {
    return "http://" + m_settings.packageHost + "/clientfiles/morvane/morvane.zip";
}

platform::FileSystem& frmUpdater::fso() {
    if (!objFSO) {
        objFSO = std::make_unique<platform::FileSystem>();
    }
    return *objFSO;
}

void frmUpdater::Form_Load() {
    m_toolkit.setAppTitle(appTitleText);
    m_controls.ProgressBar1().setVisible(false);
}

void frmUpdater::Form_Activate() {
    // The toolkit may report activation again (after a message box, or when
    // the user comes back from another program); the run starts only once.
    if (m_activated) {
        return;
    }
    m_activated = true;
    cmdDownload_Click();
}

void frmUpdater::cmdDownload_Click() {
    auto& bar = m_controls.ProgressBar1();
    try {
        m_controls.cmdDownload().setEnabled(false);
        ReadInstalledVersion();
        if (GetUpdateStatus() != "UPDATE_AVAILABLE") {
            // Only the second answer decides.
            const std::string second = GetUpdateStatus();
            if (second == "NA") {
                m_toolkit.msgBox("Unable to reach server, Please check your internet connection "
                                 "and make sure that " +
                                     m_settings.packageHost + " is accessible",
                                 MsgBoxStyle::okOnly + MsgBoxStyle::information, "");
            } else {
                m_controls.lblMessage().setCaption(latestText);
                m_toolkit.msgBox(latestText, MsgBoxStyle::okOnly + MsgBoxStyle::information, "");
            }
            m_controls.cmdDownload().setEnabled(true);
            return;
        }
        if (m_toolkit.msgBox(offerText, MsgBoxStyle::yesNo + MsgBoxStyle::information, "") ==
            MsgBoxAnswer::no) {
            m_toolkit.endProgram();
        }
        m_toolkit.setMousePointer(MousePointer::busy);
        if (!fso().FolderExists(tempFolder())) {
            fso().CreateFolder(tempFolder());
        }
        bar.setValue(0);
        bar.setVisible(true);
        m_controls.lblMessage().setCaption(downloadingText);
        m_toolkit.doEvents();
        DownloadFile(packageAddress(), packageFile());
        bar.setVisible(false);
        m_toolkit.setMousePointer(MousePointer::normal);
        m_controls.lblMessage().setCaption(extractingText);
        m_toolkit.doEvents();
        UnzipPackage("morvane.zip");
        m_controls.lblMessage().setCaption(processingText);
        m_toolkit.doEvents();
        processExtract();
        m_controls.lblMessage().setCaption(successText);
        m_toolkit.doEvents();
        fso().DeleteFolder(tempFolder(), false);
        m_toolkit.endProgram();
    } catch (const platform::Error& failure) {
        m_controls.cmdDownload().setEnabled(true);
        NoteError(runSourceLabel, failure.description(), true);
    } catch (const std::exception& failure) {
        m_controls.cmdDownload().setEnabled(true);
        NoteError(runSourceLabel, failure.what(), true);
    }
}

void frmUpdater::cmdCancel_Click() {
    // Each step goes on even when the one before it failed.
    bool idle = false;
    try {
        idle = m_controls.cmdDownload().isEnabled();
    } catch (const std::exception&) {
    }
    if (idle) {
        m_toolkit.endProgram();
    }
    int answer = MsgBoxAnswer::no;
    try {
        answer =
            m_toolkit.msgBox(exitQuestionText, MsgBoxStyle::yesNo + MsgBoxStyle::exclamation, "");
    } catch (const std::exception&) {
    }
    if (answer == MsgBoxAnswer::yes) {
        m_toolkit.endProgram();
    }
}

void frmUpdater::Form_Close() {
    // Closing the window ends the program at once, during a run like a
    // confirmed exit.
    m_toolkit.endProgram();
}
