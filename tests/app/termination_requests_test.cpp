#include "app/termination_requests.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>

#include "console_on_desktop.h"

namespace tertulia {
namespace {

const std::string kAssetSound = std::string(TERTULIA_ASSETS_DIR) + "/sonido.wav";

// The program's end asked for from outside (and by Ctrl+Q), over the console's real desktop
// parts: each request ends the event loop through "Cerrar", after which the program stores the
// company code. The offscreen desktop has no notification area, so "Cerrar" is out of reach
// there but for these.
TEST(TerminationRequestsTest, each_request_ends_the_program_as_cerrar_does) {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    const struct {
        const char* name;
        std::function<void(ConsoleOnDesktop&)> request;
        bool soundFirst = false;
    } rows[] = {
        {"SIGTERM", [](ConsoleOnDesktop&) { std::raise(SIGTERM); }},
        {"SIGINT", [](ConsoleOnDesktop&) { std::raise(SIGINT); }},
        {"SIGHUP", [](ConsoleOnDesktop&) { std::raise(SIGHUP); }},
        {"SIGTERM after the sound has played", [](ConsoleOnDesktop&) { std::raise(SIGTERM); },
         true},
        // What Qt makes of the session manager's end of the desktop session.
        {"end of the session",
         [](ConsoleOnDesktop&) {
             QEvent quit(QEvent::Quit);
             QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
         }},
        {"Ctrl+Q in the console",
         [](ConsoleOnDesktop& console) {
             QTest::keyClick(&console.window, Qt::Key_Q, Qt::ControlModifier);
         }},
    };
    for (const auto& row : rows) {
        ConsoleOnDesktop console;
        const QString settingsFile = console.directory.filePath(QStringLiteral("Tertulia.conf"));
        console.frmMain.FormCreate();
        // Shown without its start-up sequence, which would check for updates.
        console.window.SetHandlers(nullptr);
        console.window.show();
        console.window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&console.window)) << row.name;
        console.window.SetHandlers(&console.frmMain);
        console.window.SetCompanyCode("acme");
        TerminationRequests termination(
            console.loop.Guarded([&console] { console.frmMain.Salir1Click(); }),
            [&console] { console.frmMain.FormDestroy(); });

        if (row.soundFirst) {
            console.desktop.LoadSound(kAssetSound);
            ASSERT_NO_THROW(console.desktop.ConversationOpened(5, "Ana")) << row.name;
        }

        QTimer::singleShot(0, [&] { row.request(console); });
        QTimer tooLate;
        tooLate.setSingleShot(true);
        QObject::connect(&tooLate, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        tooLate.start(10000);
        EXPECT_EQ(QApplication::exec(), 0) << row.name << ": the program did not end";
        console.frmMain.FormDestroy();
        EXPECT_EQ(IniSettingsStore::Open(settingsFile)->Read("General", "IdEmpresa"), "acme")
            << row.name;
    }
}

}  // namespace
}  // namespace tertulia
