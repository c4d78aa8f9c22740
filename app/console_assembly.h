#pragma once

#include <string>

#include "app/chat_form.h"
#include "app/console_window.h"
#include "app/desktop_integration.h"
#include "app/file_save_dialog.h"
#include "app/list_box_rows.h"
#include "app/qt_event_loop.h"
#include "app/qt_readable_watch.h"
#include "app/qt_timer.h"
#include "http/http_client.h"
#include "session/main_form.h"

namespace tertulia {

// Where the console finds its service, its sound and its settings.
struct ConsoleSetup {
    std::string serviceUrl;        // "http://host:port"
    std::string programDirectory;  // where the sound is looked for first
    SettingsOpener openSettings;
};

// The operator console: its logic over the desktop's windows, tray, notifications, timers and
// HTTP client, put together in the one way that the program and its desktop tests share. Needs
// the application object; the logic's FormCreate is left to the caller.
struct ConsoleAssembly {
    explicit ConsoleAssembly(ConsoleSetup setup);
    ConsoleAssembly(const ConsoleAssembly&) = delete;
    ConsoleAssembly& operator=(const ConsoleAssembly&) = delete;

    QtEventLoop loop;
    ConsoleWindow window{loop};
    ListBoxRows rows{window.ListBox()};
    DesktopIntegration desktop{window, loop};
    QtChatWindowFactory chatWindows{loop};
    QtTimerFactory timers{loop};
    QtReadableWatch eventWatch{loop};
    FileSaveDialog saveDialog{&window};
    HttpClient http;
    TfrmMain frmMain;
};

}  // namespace tertulia
