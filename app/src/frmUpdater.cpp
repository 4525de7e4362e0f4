#include "app/frmUpdater.h"

#include "JournalRecovery.h"
#include "PackageDelta.h"
#include "PartialPackage.h"
#include "app/DownloadPercent.h"
#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"
#include "platform/Narrowing.h"
#include "platform/files/FolderLock.h"
#include "platform/files/Room.h"
#include "text/Numbers.h"

#include <ctime>
#include <exception>
#include <optional>
#include <utility>

namespace updater {

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
const char* const versionSourceLabel = "Updater: Version";
const char* const runBusyText = "Another update of this installation is running; try again "
                                "when it has finished";

// Records the file-system service's changes in a journal while it lives.
class JournalAttachment {
public:
    JournalAttachment(platform::FileSystem& fileSystem, UpdateJournal& journal)
        : m_fileSystem(fileSystem) {
        m_fileSystem.setChangeJournal(&journal);
    }
    ~JournalAttachment() { m_fileSystem.setChangeJournal(nullptr); }
    JournalAttachment(const JournalAttachment&) = delete;
    JournalAttachment& operator=(const JournalAttachment&) = delete;

private:
    platform::FileSystem& m_fileSystem;
};

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
          m_settings.packageKey, [] { return static_cast<std::int64_t>(std::time(nullptr)); }),
      m_download(
          *Inet1, [this] { m_toolkit.doEvents(); },
          [this](const std::string& path) { return fso().resolve(path); },
          [this](const std::string& percent) { DownloadProgress(percent); },
          [this]() -> const PackageDownload::Announced& { return m_versionCheck.release(); }),
      m_signatureCheck(
          m_settings.packageKey,
          [this]() -> const signature::ArrivingPackage& { return m_download.arrived(); },
          m_versionCheck),
      m_unpacking(toolkit, m_paths.tempFolder()),
      m_commands(
          m_paths, [this]() -> platform::FileSystem& { return fso(); }, services.shell()) {
    // The unzip library's callbacks ask the user through this window's toolkit.
    CodeModule::useToolkit(toolkit);
    // The download waits for the network with the window kept alive.
    Inet1->setWaitHandler([this] { m_toolkit.doEvents(); });
    m_delta = std::make_unique<PackageDelta>(
        *Inet1, [this] { m_toolkit.doEvents(); },
        [this](std::uint64_t received, std::uint64_t total) {
            DownloadProgress(downloadPercent(static_cast<std::int64_t>(received),
                                             static_cast<std::int64_t>(total),
                                             "frmUpdater::DownloadFile"));
        });
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
    try {
        m_controls.cmdDownload().setEnabled(false);
        // The check must see a whole installation, old or new.
        if (!finishEarlierUpdate()) {
            m_controls.cmdDownload().setEnabled(true);
            return;
        }
        ReadInstalledVersion();
        if (GetUpdateStatus() != "UPDATE_AVAILABLE") {
            // Only the second answer decides.
            const std::string second = GetUpdateStatus();
            if (second == "NA") {
                // A request given up, or an answer a keyed updater does
                // not trust, is no answer; the log says why.
                if (!m_versionCheck.refusal().empty()) {
                    NoteError(versionSourceLabel, m_versionCheck.refusal(), false);
                }
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
        if (const auto failure = obtainUpdate()) {
            // The box has told the user; the log tells the administrator why.
            noteDeltaFailure();
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
        // The update is installed; the journal's kept files and then the
        // journal itself go once nothing can need them.
        tidyAfterCommit(&UpdateJournal::removeKept);
        m_controls.lblMessage().setCaption(successText);
        m_toolkit.doEvents();
        fso().DeleteFolder(m_paths.tempFolder(), false);
        tidyAfterCommit(&UpdateJournal::remove);
        m_toolkit.endProgram();
    } catch (const std::exception& failure) {
        // A platform::Error's what() is its description.
        m_controls.cmdDownload().setEnabled(true);
        noteDeltaFailure();
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
    if (fso().FolderExists(temp)) {
        // A package cut off by an earlier run, when it is the one offered
        // now, is kept for the download to go on with; nothing else an
        // earlier run left may be carried out with this package.
        const std::string package = fso().resolve(m_paths.packageFile());
        if (keptPart(package, downloadIdentity(packageAddress(), m_versionCheck.release()))) {
            keepOnlyPart(package, fso(), "frmUpdater::cmdDownload_Click");
            return;
        }
        fso().DeleteFolder(temp, true);
    }
    fso().CreateFolder(temp);
}

std::optional<std::string> frmUpdater::obtainUpdate() {
    showDownloading();
    if (fetchChangedEntries()) {
        showExtracting();
        auto failure = m_unpacking.unpack("morvane.zip", PackageUnpacking::Failures::quiet);
        if (!failure) {
            failure = m_delta->checkUnpacked();
        }
        if (!failure) {
            return std::nullopt;
        }
        // Nothing of it is kept: the whole package comes as it always has.
        m_deltaFailure = *failure;
        emptyTempFolder();
        m_toolkit.setMousePointer(MousePointer::busy);
        showDownloading();
    }
    DownloadFile(packageAddress(), m_paths.packageFile());
    checkPackageSignature();
    showExtracting();
    return UnzipPackage("morvane.zip");
}

bool frmUpdater::fetchChangedEntries() {
    const PackageDownload::Announced& release = m_versionCheck.release();
    if (!release || !release->manifest) {
        return false;
    }
    // A download an earlier run left cut off goes on instead.
    const std::string package = fso().resolve(m_paths.packageFile());
    if (keptPart(package, downloadIdentity(packageAddress(), release))) {
        return false;
    }
    const std::string temp = fso().resolve(m_paths.tempFolder());
    const auto failure =
        m_delta->fetch(packageAddress(), *release, m_paths.folder(), temp, package,
                       [this](const std::string& path) { return fso().resolve(path); });
    if (failure) {
        m_deltaFailure = *failure;
        emptyTempFolder();
        return false;
    }
    return true;
}

void frmUpdater::showDownloading() {
    auto& bar = m_controls.ProgressBar1();
    bar.setValue(0);
    bar.setVisible(true);
    m_controls.lblMessage().setCaption(downloadingText);
    m_toolkit.doEvents();
}

void frmUpdater::showExtracting() {
    m_controls.ProgressBar1().setVisible(false);
    m_toolkit.setMousePointer(MousePointer::normal);
    m_controls.lblMessage().setCaption(extractingText);
    m_toolkit.doEvents();
}

void frmUpdater::emptyTempFolder() {
    fso().DeleteFolder(m_paths.tempFolder(), true);
    fso().CreateFolder(m_paths.tempFolder());
}

void frmUpdater::noteDeltaFailure() {
    if (!m_deltaFailure.empty()) {
        NoteError(stageSourceLabel,
                  "fetching only the files that changed did not work (" + m_deltaFailure +
                      "), so the whole package was downloaded",
                  false);
        m_deltaFailure.clear();
    }
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

void frmUpdater::DownloadFile(const std::string& strURL, const std::string& strDestination) {
    m_download.download(strURL, strDestination);
}

void frmUpdater::DownloadProgress(const std::string& intPercent) {
    m_controls.ProgressBar1().setValue(static_cast<float>(text::leadingNumber(intPercent)));
}

void frmUpdater::checkPackageSignature() {
    m_signatureCheck.check();
}

std::optional<std::string> frmUpdater::UnzipPackage(const std::string& name) {
    return m_unpacking.unpack(name);
}

bool frmUpdater::processExtract() {
    m_journal = std::make_unique<UpdateJournal>(m_paths.folder());
    try {
        const std::string instructions = fso().resolve(m_paths.instructionFile());
        requireRoomForInstructions(instructions);
        {
            const JournalAttachment recording(fso(), *m_journal);
            InstructionReader file(instructions);
            for (std::string line; file.next(line);) {
                RunUpdateCommand(line);
            }
        }
        m_journal->commit();
        return true;
    } catch (const std::exception& failure) {
        // The installation is put back before anyone is told.
        const bool changed = m_journal->started();
        const Restoration restoration = m_journal->rollBack();
        NoteError(stageSourceLabel, failure.what(), true);
        if (changed) {
            NoteError(stageSourceLabel, restorationReport(restoration), false);
        }
        return false;
    }
}

// An installation whose disk cannot take the new files fails before the
// first of them is copied: nothing to roll back, and the user told why.
void frmUpdater::requireRoomForInstructions(const std::string& instructions) {
    std::uint64_t needed = 0;
    InstructionReader file(instructions);
    for (std::string line; file.next(line);) {
        needed += m_commands.bytesAdded(line);
    }
    platform::requireRoom(m_paths.folder(), needed, "the update", "frmUpdater::processExtract");
}

std::string frmUpdater::restorationReport(const Restoration& restoration) const {
    if (restoration.whole()) {
        return "the installation was restored as it was: " + describeRestoration(restoration);
    }
    return "the installation could not be wholly restored: " + restoration.failure +
           "; the files the update replaced are kept in " + m_journal->folder().path() +
           ", and the next start finishes the restore";
}

bool frmUpdater::finishEarlierUpdate() {
    const Recovery recovery = recoverEarlierUpdate(m_paths, fso());
    switch (recovery.outcome) {
    case Recovery::Outcome::nothing:
        return true;
    case Recovery::Outcome::rolledBack:
    case Recovery::Outcome::finished:
        NoteError(stageSourceLabel, recovery.report, false);
        return true;
    case Recovery::Outcome::failed:
        NoteError(stageSourceLabel, recovery.report, true);
        return false;
    }
    return false;
}

void frmUpdater::tidyAfterCommit(void (UpdateJournal::*step)()) {
    try {
        (m_journal.get()->*step)();
    } catch (const std::exception& failure) {
        NoteError(stageSourceLabel,
                  std::string("the update is installed, but its journal could not be cleared: ") +
                      failure.what() + "; the next start finishes it",
                  false);
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

} // namespace updater
