#include "app/frmUpdater.h"

#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"
#include "platform/FolderLock.h"
#include "platform/Narrowing.h"

#include <exception>
#include <optional>
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
const char* const stageSourceLabel = "Updater";
const char* const runBusyText = "Another update of this installation is running; try again "
                                "when it has finished";

} // namespace

using platform::MousePointer;
using platform::MsgBoxAnswer;
using platform::MsgBoxStyle;

frmUpdater::frmUpdater(platform::Toolkit& toolkit, platform::UpdaterControls& controls,
                       platform::Services& services, UpdaterSettings settings)
    : m_toolkit(toolkit), m_controls(controls), m_services(services),
      m_settings(std::move(settings)), m_paths(m_settings.installFolder),
      Inet1(services.newInternetTransfer()), m_errorLog(toolkit, m_paths.errorLog()),
      m_versionCheck(
          services, [this]() -> platform::FileSystem& { return fso(); },
          [this](double seconds) { wait(seconds); }, m_paths.application(),
          "http://" + m_settings.versionHost + "/clientfiles/morvane/version.php",
          // The instruction file stays in the temp folder until a run has
          // carried it out to its end and removed the folder.
          m_paths.instructionFile()),
      m_commands(
          m_paths, [this]() -> platform::FileSystem& { return fso(); }, services.shell()) {
    // The unzip library's callbacks ask the user through this window's toolkit.
    CodeModule::useToolkit(toolkit);
    // The download waits for the network with the window kept alive.
    Inet1->setWaitHandler([this] { m_toolkit.doEvents(); });
}

frmUpdater::~frmUpdater() = default;

std::string frmUpdater::packageAddress() const {
    return "http://" + m_settings.packageHost + "/clientfiles/morvane/morvane.zip";
}

platform::FileSystem& frmUpdater::fso() {
    if (!objFSO) {
        objFSO = m_services.newFileSystem();
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
        // One run per installation: held until this run ends, however it ends.
        const platform::FolderLock runLock(m_paths.folder(), "frmUpdater::cmdDownload_Click",
                                           runBusyText);
        m_toolkit.setMousePointer(MousePointer::busy);
        prepareTempFolder();
        bar.setValue(0);
        bar.setVisible(true);
        m_controls.lblMessage().setCaption(downloadingText);
        m_toolkit.doEvents();
        DownloadFile(packageAddress(), m_paths.packageFile());
        checkPackageSignature();
        bar.setVisible(false);
        m_toolkit.setMousePointer(MousePointer::normal);
        m_controls.lblMessage().setCaption(extractingText);
        m_toolkit.doEvents();
        if (const auto failure = UnzipPackage("morvane.zip")) {
            // The box has told the user; the log tells the administrator why.
            NoteError(stageSourceLabel, "the package could not be unpacked: " + *failure, false);
            stopFailedRun();
            return;
        }
        m_controls.lblMessage().setCaption(processingText);
        m_toolkit.doEvents();
        if (!processExtract()) {
            stopFailedRun();
            return;
        }
        m_controls.lblMessage().setCaption(successText);
        m_toolkit.doEvents();
        fso().DeleteFolder(m_paths.tempFolder(), false);
        m_toolkit.endProgram();
    } catch (const std::exception& failure) {
        // A platform::Error's what() is its description.
        m_controls.cmdDownload().setEnabled(true);
        NoteError(runSourceLabel, failure.what(), true);
    }
}

void frmUpdater::prepareTempFolder() {
    const std::string temp = m_paths.tempFolder();
    if (fso().isSymbolicLink(temp)) {
        platform::raiseError(platform::ErrorNumber::permissionDenied,
                             "frmUpdater::cmdDownload_Click",
                             temp + " is a symbolic link; the update does not follow it");
    }
    // Nothing an earlier run left may be carried out with this package.
    if (fso().FolderExists(temp)) {
        fso().DeleteFolder(temp, true);
    }
    fso().CreateFolder(temp);
}

void frmUpdater::stopFailedRun() {
    m_toolkit.setMousePointer(MousePointer::normal);
    m_controls.cmdDownload().setEnabled(true);
}

void frmUpdater::NoteError(const std::string& formname, const std::string& ErrorContent,
                           bool showMSG) {
    m_errorLog.note(formname, ErrorContent, showMSG);
}

void frmUpdater::wait(double vSec0nds) {
    const int32_t count = platform::roundToInt32(vSec0nds * 1000, "frmUpdater::wait");
    for (int32_t i = 0; i < count; ++i) {
        m_toolkit.doEvents();
    }
}

void frmUpdater::ReadInstalledVersion() {
    m_versionCheck.readInstalledVersion();
}

std::string frmUpdater::GetUpdateStatus() {
    return m_versionCheck.updateStatus();
}

bool frmUpdater::processExtract() {
    try {
        InstructionReader file(fso().resolve(m_paths.instructionFile()));
        for (std::string line; file.next(line);) {
            RunUpdateCommand(line);
        }
        return true;
    } catch (const std::exception& failure) {
        NoteError("Updater", failure.what(), true);
        return false;
    }
}

void frmUpdater::RunUpdateCommand(const std::string& line) {
    m_commands.run(line);
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
