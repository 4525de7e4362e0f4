// The program's start, as main does it, for an installation folder and a
// publisher that a test chose, answering Yes to the update offer like a
// user would. The update run ends the process itself; exit status 3 means
// the event loop returned without it.
//
//   qt_update_child INSTALL_FOLDER PUBLISHER_HOST LIBRARY_FOLDER

#include "app/frmUpdater.h"
#include "codemodule/CodeModuleState.h"
#include "platform/qt/QtToolkit.h"
#include "platform/qt/QtUpdaterWindow.h"
#include "tests/qt/QtTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        return 2;
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    CodeModule::setLibraryFolder(argv[3]);
    platform::QtToolkit toolkit;
    platform::QtUpdaterWindow window;
    frmUpdater form(toolkit, window, UpdaterSettings{argv[1], argv[2], argv[2]});
    window.attach(form);
    qttest::ModalResponder<QMessageBox> offer(
        [](QMessageBox& box) { box.button(QMessageBox::Yes)->click(); });
    form.Form_Load();
    window.showCentred();
    QApplication::exec();
    std::_Exit(3);
}
