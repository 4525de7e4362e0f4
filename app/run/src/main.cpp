// Starts the updater: its one window, whose first showing runs the update.

#include "app/BuildSettings.h"
#include "codemodule/CodeModuleState.h"
#include "platform/Error.h"
#include "platform/SystemServices.h"
#include "platform/files/ExecutableFolder.h"
#include "platform/http/NetworkAccess.h"
#include "platform/qt/QtToolkit.h"
#include "platform/qt/QtUpdaterWindow.h"
#include "run/frmUpdater.h"

#include <QApplication>
#include <QMessageBox>

#include <string>

using updater::frmUpdater;
using updater::UpdaterSettings;

int main(int argc, char** argv) {
    // The program reads no command line: Qt is handed the program name only.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication app(qtArgc, argv);

    std::string folder;
    try {
        folder = platform::executableFolder();
    } catch (const platform::Error& failure) {
        QMessageBox::critical(nullptr, QStringLiteral("Morvane Updater"),
                              QStringLiteral("Cannot find the installation folder: ") +
                                  QString::fromStdString(failure.description()));
        return 1;
    }

    const UpdaterSettings settings{folder,
                                   MORVANE_VERSION_HOST,
                                   MORVANE_PACKAGE_HOST,
                                   MORVANE_PACKAGE_KEY,
                                   MORVANE_ROOT_KEYS,
                                   MORVANE_ROOT_THRESHOLD,
                                   MORVANE_CA_BUNDLE};
    // The zip libraries lie in the installation folder of the window's settings.
    CodeModule::setLibraryFolder(settings.installFolder);
    platform::QtToolkit toolkit;
    platform::QtUpdaterWindow window;
    // Proxies as the environment or the desktop names them; the
    // authorities the build and the administrator add.
    platform::SystemServices services(
        {}, std::make_shared<const platform::NetworkAccess>(
                settings.authorityFiles(), std::make_shared<platform::SystemProxies>()));
    frmUpdater form(toolkit, window, services, settings);
    window.attach(form);
    form.Form_Load();
    window.showCentred();
    return QApplication::exec();
}
