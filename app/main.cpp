// Starts the updater: its one window, whose first showing runs the update.

#include "app/BuildSettings.h"
#include "app/frmUpdater.h"
#include "platform/qt/QtToolkit.h"
#include "platform/qt/QtUpdaterWindow.h"

#include <QApplication>
#include <QMessageBox>

#include <filesystem>
#include <string>
#include <system_error>

namespace {

// The folder of the running program, without a trailing "/" (the root
// folder gives the empty text, so that "/temp" stays a proper path).
std::string installationFolder(std::error_code& failure) {
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failure);
    std::string folder = program.parent_path().string();
    while (!folder.empty() && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

} // namespace

int main(int argc, char** argv) {
    // The program reads no command line: Qt is handed the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication app(qtArgc, argv);

    std::error_code failure;
    const std::string folder = installationFolder(failure);
    if (failure) {
        QMessageBox::critical(nullptr, QStringLiteral("Morvane Updater"),
                              QStringLiteral("Cannot find the installation folder: ") +
                                  QString::fromStdString(failure.message()));
        return 1;
    }

    platform::QtToolkit toolkit;
    platform::QtUpdaterWindow window;
    frmUpdater form(toolkit, window,
                    UpdaterSettings{folder, MORVANE_VERSION_HOST, MORVANE_PACKAGE_HOST});
    window.attach(form);
    form.Form_Load();
    window.showCentred();
    return QApplication::exec();
}
