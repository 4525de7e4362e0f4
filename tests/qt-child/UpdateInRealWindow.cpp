// The program's start, as main does it, for an installation folder and a
// publisher that a test chose, with a user who answers Yes to every
// question, OK to every message and, when given, types the password into
// every password box. With a key (base64), the updater is the one built
// with that publisher's key. Each box is written to standard output as one line
// ("box TITLE: TEXT" or "input TITLE: PROMPT", line ends as "|"). Before the
// program ends, what the run came to is written as one line of numbered
// fields ("outcome: check=N answer=N keys=N trust=N changed=N fallback=N failure=N
// network=N installed=N", the ones a run has; testsupport/RunOutcome.h reads it).
//
//   qt_update_child INSTALL_FOLDER PUBLISHER_HOST LIBRARY_FOLDER [PASSWORD [KEY]]
//
// KEY is the publisher's key, or for a root build "roots:THRESHOLD:ROOT,..."
// (each base64).
//
// Exit status: 0 when the update run ended the program, 4 when the run
// stopped with the window open (then the last line is "open: STATUS LINE"),
// 3 when the event loop returned without either.

#include "codemodule/CodeModuleState.h"
#include "platform/SystemServices.h"
#include "platform/http/NetworkAccess.h"
#include "platform/qt/QtToolkit.h"
#include "platform/qt/QtUpdaterWindow.h"
#include "run/frmUpdater.h"

#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using updater::frmUpdater;
using updater::UpdaterSettings;
using updater::UpdateRun;

namespace {

std::string oneLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("|"));
    text.replace(QLatin1Char('\n'), QLatin1Char('|'));
    text.replace(QLatin1Char('\r'), QLatin1Char('|'));
    return text.toStdString();
}

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Answers whatever modal box is on screen, as the user described above;
// false when there is none.
bool answerBox(const QString& password) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) {
        return false;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        say("box " + box->windowTitle().toStdString() + ": " + oneLine(box->text()));
        QAbstractButton* yes = box->button(QMessageBox::Yes);
        (yes != nullptr ? yes : box->buttons().front())->click();
    } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
        say("input " + input->windowTitle().toStdString() + ": " + oneLine(input->labelText()));
        input->setTextValue(password);
        input->accept();
    }
    return true;
}

template <typename Enum> std::string numbered(Enum value) {
    return std::to_string(static_cast<long long>(value));
}

std::string outcomeLine(const UpdateRun::Report& report) {
    std::string line = "outcome: check=" + numbered(report.check);
    if (report.answer) {
        line += " answer=" + numbered(*report.answer);
    }
    if (report.keys) {
        line += " keys=" + numbered(*report.keys);
    }
    if (report.trust) {
        line += " trust=" + numbered(*report.trust);
    }
    line += " changed=" + numbered(report.changedFiles);
    if (report.fallback) {
        line += " fallback=" + numbered(*report.fallback);
    }
    if (report.failure) {
        line += " failure=" + numbered(*report.failure);
    }
    if (report.network) {
        line += " network=" + numbered(*report.network);
    }
    return line + " installed=" + numbered(report.installed);
}

// The toolkit main uses, which writes what the run came to when the run
// ends the program.
class ReportingToolkit : public platform::QtToolkit {
public:
    const frmUpdater* form = nullptr;

    [[noreturn]] void endProgram() override {
        if (form != nullptr) {
            say(outcomeLine(form->lastRun()));
        }
        platform::QtToolkit::endProgram();
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 6) {
        return 2;
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    const QString password = argc >= 5 ? QString::fromUtf8(argv[4]) : QString();
    const std::string key = argc == 6 ? argv[5] : "";
    // A root build's key reads "roots:THRESHOLD:ROOT,ROOT,...".
    const std::string rootsStart = "roots:";
    const bool rootBuild = key.rfind(rootsStart, 0) == 0;
    const std::size_t thresholdEnd = key.find(':', rootsStart.size());
    CodeModule::setLibraryFolder(argv[3]);
    ReportingToolkit toolkit;
    platform::QtUpdaterWindow window;
    UpdaterSettings settings{argv[1], argv[2], argv[2], rootBuild ? "" : key};
    if (rootBuild && thresholdEnd != std::string::npos) {
        settings.rootThreshold = static_cast<std::uint32_t>(
            std::stoul(key.substr(rootsStart.size(), thresholdEnd - rootsStart.size())));
        settings.rootKeys = key.substr(thresholdEnd + 1);
    }
    platform::SystemServices services(
        {}, std::make_shared<const platform::NetworkAccess>(
                settings.authorityFiles(), std::make_shared<platform::SystemProxies>()));
    frmUpdater form(toolkit, window, services, settings);
    window.attach(form);
    toolkit.form = &form;

    bool runStarted = false;
    QTimer user;
    user.setInterval(5);
    QObject::connect(&user, &QTimer::timeout, [&] {
        // A box comes only from a run, also one that stopped before the
        // button was ever seen disabled.
        const bool answered = answerBox(password);
        const bool busy = !window.cmdDownload().isEnabled();
        runStarted = runStarted || busy || answered;
        if (runStarted && !busy && QApplication::activeModalWidget() == nullptr) {
            say(outcomeLine(form.lastRun()));
            say("open: " + window.lblMessage().caption());
            std::_Exit(4);
        }
    });
    user.start();

    form.Form_Load();
    window.showCentred();
    QApplication::exec();
    say(outcomeLine(form.lastRun()));
    std::_Exit(3);
}
