#include <QApplication>
#include <QFile>

#include "app/console_window.h"
#include "app/file_save_dialog.h"
#include "app/ini_settings_store.h"
#include "app/qt_timer.h"
#include "session/error_report.h"
#include "session/main_form.h"

int main(int argc, char* argv[]) {
    using namespace tertulia;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tertulia"));
    // The program ends only through "Cerrar"; its windows are hidden, never closed.
    QApplication::setQuitOnLastWindowClosed(false);

    ConsoleWindow console;
    console.SetErrorText(ApplicationErrorText);
    const auto report = [&console](const std::string& message) { console.ReportFailure(message); };
    QtTimer tmIdle(report);
    FileSaveDialog saveDialog(&console);
    TfrmMain frmMain(
        console, tmIdle, [] { return IniSettingsStore::Open(); }, saveDialog, TERTULIA_SERVICE_URL,
        QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());

    console.SetEvents({
        .FormShow = [&frmMain] { frmMain.FormShow(); },
        .FormCloseQuery = [&frmMain] { frmMain.FormCloseQuery(); },
        .btConectarClick = [&frmMain] { frmMain.btConectarClick(); },
        .ListBoxWImg1DblClick = [&frmMain] { frmMain.ListBoxWImg1DblClick(); },
        .Minimized = [&console] { console.HideWindow(); },
    });
    frmMain.FormCreate();
    console.show();

    const int result = QApplication::exec();
    frmMain.FormDestroy();
    return result;
}
