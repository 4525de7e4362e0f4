#include "run/frmUpdater.h"

#include "WindowTexts.h"
#include "app/SourceLabels.h"
#include "run/RunDisplay.h"
#include "run/UpdateRun.h"
#include "run/UpdateStages.h"

#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"
#include "platform/Narrowing.h"
#include "text/LetterCase.h"
#include "text/Numbers.h"

#include <exception>
#include <utility>

namespace updater {

using platform::MousePointer;
using platform::MsgBoxAnswer;
using platform::MsgBoxStyle;

frmUpdater::frmUpdater(platform::Toolkit& toolkit, platform::UpdaterControls& controls,
                       platform::Services& services, UpdaterSettings settings)
    : m_toolkit(toolkit), m_controls(controls), m_services(services),
      m_settings(std::move(settings)), m_paths(m_settings.installFolder),
      m_addresses(m_settings.versionHost, m_settings.packageHost),
      Inet1(services.newInternetTransfer()), m_errorLog(toolkit, m_paths.errorLog()),
      m_display(std::make_unique<RunDisplay>(toolkit, controls)),
      m_stages(std::make_unique<UpdateStages>(
          UpdateStages::Window{*this, toolkit, services, *Inet1, m_errorLog,
                               [this](const std::string& percent) { DownloadProgress(percent); }},
          m_settings, m_paths, m_addresses)) {
    // The unzip library's callbacks ask the user through this window's toolkit.
    CodeModule::useToolkit(toolkit);
    // The download waits for the network with the window kept alive.
    Inet1->setWaitHandler([this] { m_toolkit.doEventsWhileBusy(); });
}

frmUpdater::~frmUpdater() = default;

platform::FileSystem& frmUpdater::fso() {
    if (!objFSO) {
        objFSO = m_services.newFileSystem();
    }
    return *objFSO;
}

void frmUpdater::pump() {
    m_toolkit.doEvents();
}

void frmUpdater::pumpWhileBusy() {
    m_toolkit.doEventsWhileBusy();
}

void frmUpdater::pause(double seconds) {
    wait(seconds);
}

platform::FileSystem& frmUpdater::files() {
    return fso();
}

void frmUpdater::Form_Load() {
    m_toolkit.setAppTitle(texts::appTitle);
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
    // From the user's Yes until the update is installed.
    bool installing = false;
    try {
        m_controls.cmdDownload().setEnabled(false);
        if (const Outcome<void> ran = runUpdate(installing); !ran) {
            // The run is over, its lock given back, before anyone is told.
            tell(ran.failure(), installing);
            return;
        }
        m_controls.cmdDownload().setEnabled(true);
    } catch (const std::exception& caught) {
        tell(failureOf(caught, sources::updateRun, false), installing);
    }
}

Outcome<void> frmUpdater::runUpdate(bool& installing) {
    m_lastRun = {};
    UpdateRun run(*m_stages, *m_display, m_errorLog, m_paths, m_addresses, *this);
    const UpdateRun::Checked checked = run.check();
    m_lastRun = run.report();
    switch (checked.outcome) {
    case UpdateRun::Check::busy:
        showBusy();
        break;
    case UpdateRun::Check::stopped:
        break;
    case UpdateRun::Check::unreachable:
        showUnreachable(checked.reason);
        break;
    case UpdateRun::Check::latest:
        showLatest();
        break;
    case UpdateRun::Check::available:
        if (m_toolkit.msgBox(texts::offer, MsgBoxStyle::yesNo + MsgBoxStyle::information, "") ==
            MsgBoxAnswer::no) {
            m_toolkit.endProgram();
        }
        installing = true;
        Outcome<void> installed = run.install();
        m_lastRun = run.report();
        if (installed) {
            installing = false;
            m_display->succeeded();
            run.finish();
            m_toolkit.endProgram();
        } else if (!installed.failure().told) {
            return installed;
        }
        // A stage stopped the update and has said why.
        m_toolkit.setMousePointer(MousePointer::normal);
        m_display->notCompleted();
        break;
    }
    return {};
}

void frmUpdater::tell(const Failure& failure, bool installing) {
    m_controls.cmdDownload().setEnabled(true);
    if (installing) {
        m_display->notCompleted();
    }
    NoteError(logLabels::download, failure.error.description(), true);
}

void frmUpdater::showUnreachable(const std::string& reason) {
    // A server that answered, but not in a way this updater takes, is no
    // matter of the connection: one more line says what it was.
    std::string text = texts::unreachableStart + m_settings.packageHost + texts::unreachableEnd;
    if (!reason.empty()) {
        text += "\r\n" + text::upperCase(reason.substr(0, 1)) + reason.substr(1);
    }
    m_toolkit.msgBox(text, MsgBoxStyle::okOnly + MsgBoxStyle::information, "");
}

void frmUpdater::showBusy() {
    m_errorLog.note(logLabels::busy, texts::runBusy, false);
    m_toolkit.msgBox(texts::runBusy, MsgBoxStyle::okOnly + MsgBoxStyle::information, "");
}

void frmUpdater::showLatest() {
    m_controls.lblMessage().setCaption(texts::latest);
    m_toolkit.msgBox(texts::latest, MsgBoxStyle::okOnly + MsgBoxStyle::information, "");
}

void frmUpdater::NoteError(const std::string& formname, const std::string& ErrorContent,
                           bool showMSG) {
    m_errorLog.note(formname, ErrorContent, showMSG);
}

void frmUpdater::wait(double vSec0nds) {
    const int32_t count = platform::roundToInt32(vSec0nds * 1000, sources::wait);
    for (int32_t i = 0; i < count; ++i) {
        m_toolkit.doEvents();
    }
}

void frmUpdater::ReadInstalledVersion() {
    m_stages->versions.readInstalledVersion();
}

std::string frmUpdater::GetUpdateStatus() {
    return m_stages->versions.updateStatus();
}

void frmUpdater::DownloadFile(const std::string& strURL, const std::string& strDestination) {
    m_stages->download.download(strURL, strDestination, m_stages->versions.release());
}

void frmUpdater::DownloadProgress(const std::string& intPercent) {
    m_controls.ProgressBar1().setValue(static_cast<float>(text::leadingNumber(intPercent)));
}

std::optional<std::string> frmUpdater::UnzipPackage(const std::string& name) {
    const Outcome<void> unpacked = m_stages->unpacking.unpack(name);
    if (unpacked) {
        return std::nullopt;
    }
    return unpacked.failure().error.description();
}

bool frmUpdater::processExtract() {
    return static_cast<bool>(m_stages->instructions.apply());
}

void frmUpdater::RunUpdateCommand(const std::string& line) {
    m_stages->instructions.runLine(line);
}

void frmUpdater::cmdCancel_Click() {
    // Each step goes on even when the one before it failed.
    bool idle = false;
    try {
        idle = m_controls.cmdDownload().isEnabled();
    } catch (const std::exception&) {
        // The exit handler skips a failing step and goes on with the next.
    }
    if (idle) {
        m_toolkit.endProgram();
    }
    int answer = MsgBoxAnswer::no;
    try {
        answer = m_toolkit.msgBox(texts::exitQuestion,
                                  MsgBoxStyle::yesNo + MsgBoxStyle::exclamation, "");
    } catch (const std::exception&) {
        // The exit handler skips a failing step and goes on with the next.
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
