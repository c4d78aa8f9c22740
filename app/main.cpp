#include <QApplication>
#include <QFile>
#include <cstdlib>

#include "app/accessibility_bridge_guard.h"
#include "app/console_window.h"
#include "app/file_save_dialog.h"
#include "app/ini_settings_store.h"
#include "app/qt_timer.h"
#include "app/qt_translations.h"
#include "http/tls_transport.h"
#include "session/error_report.h"
#include "session/main_form.h"
#include "session/service_address.h"
#include "widgets/qt/icon_picture.h"
#include "widgets/qt/popup_menu.h"
#include "widgets/qt/resources.h"
#include "widgets/qt/tray_backend.h"

int main(int argc, char* argv[]) {
    using namespace tertulia;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tertulia"));
    InstallQtSpanishTranslations(app);
    GuardAccessibilityBridge();
    // The program ends only through "Cerrar"; its windows are hidden, never closed.
    QApplication::setQuitOnLastWindowClosed(false);

    ConsoleWindow console;
    console.SetErrorText(ApplicationErrorText);
    const auto report = [&console](const std::string& message) { console.ReportFailure(message); };
    QtTimer tmIdle(report);
    FileSaveDialog saveDialog(&console);
    const std::string serviceUrl =
        ChooseServiceUrl(IniSettingsStore::ReadIfPossible(kServiceSection, kServiceUrlName),
                         std::getenv(kServiceUrlVariable), TERTULIA_SERVICE_URL);
    TfrmMain frmMain(
        console, tmIdle, [] { return IniSettingsStore::Open(); }, saveDialog, serviceUrl,
        QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
    frmMain.HTTP1().SetSecureTransport(MakeTlsTransportFactory());

    console.SetEvents({
        .FormShow = [&frmMain] { frmMain.FormShow(); },
        .FormCloseQuery = [&frmMain] { frmMain.FormCloseQuery(); },
        .btConectarClick = [&frmMain] { frmMain.btConectarClick(); },
        .ListBoxWImg1DblClick = [&frmMain] { frmMain.ListBoxWImg1DblClick(); },
    });
    frmMain.FormCreate();

    // TrayIcon1 with its menu pmMenu; the icon appears once its properties are set.
    std::unique_ptr<QtPopupMenu> pmMenu =
        MakeConsoleTrayMenu(console.Guarded([&frmMain] { frmMain.AbrirVentana1Click(); }),
                            console.Guarded([&frmMain] { frmMain.Salir1Click(); }));
    QtTrayIcon trayIcon(&console);
    TTrayIcon& TrayIcon1 = trayIcon.Tray();
    TrayIcon1.SetIcon(MakeIcon(TrayIconPixmap()));
    TrayIcon1.SetShowHint(false);
    TrayIcon1.SetPopupMenu(pmMenu.get());
    TrayIcon1.SetLeftPopup(true);
    TrayIcon1.SetMinimizeToTray(true);
    const auto dblClick = console.Guarded([&frmMain] { frmMain.TrayIcon1DblClick(); });
    TrayIcon1.OnDblClick = [dblClick](TTrayIcon&) { dblClick(); };
    TrayIcon1.Loaded();

    if (trayIcon.Backend().ShowMainForm()) console.show();

    const int result = QApplication::exec();
    frmMain.FormDestroy();
    return result;
}
