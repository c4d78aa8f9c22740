#pragma once

#include <QString>
#include <QTemporaryDir>
#include <string>

#include "app/chat_form.h"
#include "app/console_window.h"
#include "app/desktop_integration.h"
#include "app/file_save_dialog.h"
#include "app/ini_settings_store.h"
#include "app/list_box_rows.h"
#include "app/qt_event_loop.h"
#include "app/qt_readable_watch.h"
#include "app/qt_timer.h"
#include "http/http_client.h"
#include "qt_test_support.h"
#include "session/main_form.h"

namespace tertulia {

// The console's logic over the real desktop parts, as the program puts them together, with its
// settings in `settingsFile` (by default one in a folder of the test's own). Nothing listens on
// the discard port it talks to.
struct ConsoleOnDesktop : private WithApplication {
    explicit ConsoleOnDesktop(QString settingsFile = {})
        : frmMain(
              ConsoleParts{
                  .view = window,
                  .dialogs = window,
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
                  .openSettings = [file =
                                       settingsFile.isEmpty()
                                           ? directory.filePath(QStringLiteral("Tertulia.conf"))
                                           : settingsFile] { return IniSettingsStore::Open(file); },
                  .saveDialog = saveDialog,
                  .http = http,
              },
              "http://127.0.0.1:9", directory.path().toStdString()) {
        loop.SetReportParent(&window);
    }

    // A new conversation window over the desktop's parts.
    std::unique_ptr<TfrmChatClt> NewChat(std::int32_t id = 5) {
        ChatWindowParts parts = chatWindows.Create();
        return std::make_unique<TfrmChatClt>(id, frmMain.Windows(), std::move(parts.view),
                                             std::move(parts.timer));
    }

    QTemporaryDir directory;
    QtEventLoop loop;
    ConsoleWindow window{loop};
    ListBoxRows rows{window.ListBox()};
    DesktopIntegration desktop{window, loop};
    QtChatWindowFactory chatWindows{loop};
    QtTimer tmIdle{loop};
    QtTimer tmReconectar{loop};
    QtTimer tmEventos{loop};
    QtTimer tmPausaNoticias{loop};
    QtTimer tmRefrescos{loop};
    QtReadableWatch eventWatch{loop};
    FileSaveDialog saveDialog{&window};
    HttpClient http;
    TfrmMain frmMain;
};

}  // namespace tertulia
