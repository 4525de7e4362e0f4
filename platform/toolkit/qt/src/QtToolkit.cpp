#include "platform/qt/QtToolkit.h"

#include "QtMessageBox.h"
#include "fileio/BufferedFile.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QInputDialog>

#include <cstdio>
#include <cstdlib>

namespace platform {

void QtToolkit::setMousePointer(int pointer) {
    // One override at most, so that a single 0 always brings the default back.
    const bool wasBusy = m_mousePointer == MousePointer::busy;
    const bool busy = pointer == MousePointer::busy;
    if (busy && !wasBusy) {
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    } else if (!busy && wasBusy) {
        QApplication::restoreOverrideCursor();
    }
    m_mousePointer = pointer;
}

int QtToolkit::msgBox(const std::string& prompt, int style, const std::string& title) {
    return showMessageBox(QApplication::activeWindow(),
                          QString::fromStdString(titleOrAppTitle(title)),
                          QString::fromStdString(prompt), style);
}

std::string QtToolkit::inputBox(const std::string& prompt, const std::string& title) {
    bool accepted = false;
    const QString text = QInputDialog::getText(
        QApplication::activeWindow(), QString::fromStdString(titleOrAppTitle(title)),
        QString::fromStdString(prompt), QLineEdit::Normal, QString(), &accepted);
    return accepted ? text.toStdString() : std::string();
}

void QtToolkit::doEvents() {
    QCoreApplication::processEvents();
    m_lastEvents = std::chrono::steady_clock::now();
}

void QtToolkit::doEventsWhileBusy() {
    // Each round of the event loop polls its sources, a system call; a
    // window handled a thousand times a second answers as at once.
    if (std::chrono::steady_clock::now() - m_lastEvents >= std::chrono::milliseconds(1)) {
        doEvents();
    }
}

void QtToolkit::endProgram() {
    // Whatever the program wrote through C streams or buffered files reaches
    // its files (a partly downloaded package keeps every byte received); no
    // destructor, exit handler or event runs after this.
    std::fflush(nullptr);
    fileio::flushOpenFiles();
    std::_Exit(0);
}

std::string QtToolkit::titleOrAppTitle(const std::string& title) const {
    return title.empty() ? m_appTitle : title;
}

} // namespace platform
