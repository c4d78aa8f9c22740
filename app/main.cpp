#include <QApplication>
#include <QFile>
#include <cstdlib>

#include "app/accessibility_bridge_guard.h"
#include "app/console_assembly.h"
#include "app/ini_settings_store.h"
#include "app/qt_translations.h"
#include "app/termination_requests.h"
#include "session/console_settings.h"
#include "session/service_address.h"

int main(int argc, char* argv[]) {
    using namespace tertulia;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tertulia"));
    InstallQtSpanishTranslations(app);
    GuardAccessibilityBridge();
    // The program ends only through "Cerrar"; its windows are hidden, never closed.
    QApplication::setQuitOnLastWindowClosed(false);

    ConsoleAssembly console(ConsoleSetup{
        .serviceUrl = ChooseServiceUrl(
            IniSettingsStore::ReadIfPossible(kServiceUrl.section, kServiceUrl.name),
            std::getenv(kServiceUrlVariable), TERTULIA_SERVICE_URL),
        .programDirectory = QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString(),
        .openSettings = [] { return IniSettingsStore::Open(); },
    });
    TfrmMain& frmMain = console.frmMain;
    frmMain.FormCreate();
    // Signals and the end of the desktop session end the program as "Cerrar" does.
    TerminationRequests termination(console.loop.Guarded([&frmMain] { frmMain.Salir1Click(); }),
                                    console.loop.Guarded([&frmMain] { frmMain.FormDestroy(); }));

    if (console.desktop.ShowMainForm()) console.window.show();

    const int result = QApplication::exec();
    frmMain.FormDestroy();
    return result;
}
