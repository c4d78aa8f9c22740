#include <QApplication>
#include <QFile>
#include <cstdlib>

#include "app/accessibility_bridge_guard.h"
#include "app/chat_form.h"
#include "app/console_window.h"
#include "app/desktop_integration.h"
#include "app/file_save_dialog.h"
#include "app/ini_settings_store.h"
#include "app/list_box_rows.h"
#include "app/qt_event_loop.h"
#include "app/qt_readable_watch.h"
#include "app/qt_timer.h"
#include "app/qt_translations.h"
#include "app/termination_requests.h"
#include "http/http_client.h"
#include "http/tls_transport.h"
#include "session/console_settings.h"
#include "session/main_form.h"
#include "session/service_address.h"

int main(int argc, char* argv[]) {
    using namespace tertulia;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tertulia"));
    InstallQtSpanishTranslations(app);
    GuardAccessibilityBridge();
    // The program ends only through "Cerrar"; its windows are hidden, never closed.
    QApplication::setQuitOnLastWindowClosed(false);

    QtEventLoop loop;
    ConsoleWindow console(loop);
    loop.SetReportParent(&console);
    ListBoxRows rows(console.ListBox());
    DesktopIntegration desktop(console, loop);
    QtChatWindowFactory chatWindows(loop);
    QtTimer tmIdle(loop);
    QtTimer tmReconectar(loop);
    QtTimer tmEventos(loop);
    QtTimer tmPausaNoticias(loop);
    QtTimer tmRefrescos(loop);
    QtReadableWatch eventWatch(loop);
    FileSaveDialog saveDialog(&console);
    HttpClient http;
    http.SetSecureTransport(MakeTlsTransportFactory());
    const std::string serviceUrl =
        ChooseServiceUrl(IniSettingsStore::ReadIfPossible(kServiceUrl.section, kServiceUrl.name),
                         std::getenv(kServiceUrlVariable), TERTULIA_SERVICE_URL);
    TfrmMain frmMain(
        ConsoleParts{
            .view = console,
            .dialogs = console,
            .rows = rows,
            .chatWindows = chatWindows,
            .announcer = desktop,
            .attention = desktop,
            .loop = loop,
            .tmIdle = tmIdle,
            .tmReconectar = tmReconectar,
            .tmEventos = tmEventos,
            .tmPausaNoticias = tmPausaNoticias,
            .tmRefrescos = tmRefrescos,
            .eventWatch = eventWatch,
            .openSettings = [] { return IniSettingsStore::Open(); },
            .saveDialog = saveDialog,
            .http = http,
        },
        serviceUrl, QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
    frmMain.FormCreate();
    desktop.SetHandlers(&frmMain);
    // Signals and the end of the desktop session end the program as "Cerrar" does.
    TerminationRequests termination(loop.Guarded([&frmMain] { frmMain.Salir1Click(); }),
                                    loop.Guarded([&frmMain] { frmMain.FormDestroy(); }));

    if (desktop.ShowMainForm()) console.show();

    const int result = QApplication::exec();
    frmMain.FormDestroy();
    return result;
}
