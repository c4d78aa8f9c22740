#include "app/accessibility_bridge_guard.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <cstdlib>
#include <iostream>

#include "app/chat_form.h"
#include "app/console_window.h"
#include "app/list_box_rows.h"
#include "app/qt_event_loop.h"
#include "chat/chat_view.h"
#include "qt_test_support.h"

namespace tertulia {
namespace {

// The walker (a screen reader's way through the tree) and the private buses come from
// accessibility_walk.sh; run alone, the test has neither.
const char* Walker() {
    return std::getenv("TERTULIA_ACCESSIBILITY_WALKER");
}

struct Walk {
    int exitCode = -1;
    QString output;
};

// Runs the walker over this program's accessible objects while the event loop serves its calls.
Walk WalkTheTree() {
    QProcess walker;
    walker.setProcessChannelMode(QProcess::MergedChannels);
    QEventLoop loop;
    QObject::connect(&walker, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&walker, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(120'000, &loop, &QEventLoop::quit);
    walker.start(QStringLiteral("/usr/bin/python3"),
                 {QString::fromLocal8Bit(Walker()), QCoreApplication::applicationName()});
    loop.exec();
    Walk walk;
    if (walker.state() != QProcess::NotRunning) {
        walker.kill();
        walker.waitForFinished();
    } else if (walker.exitStatus() == QProcess::NormalExit) {
        walk.exitCode = walker.exitCode();
    }
    walk.output = QString::fromUtf8(walker.readAll());
    return walk;
}

TEST(AccessibilityTest, a_screen_reader_reads_every_object_of_every_panel) {
    if (Walker() == nullptr) GTEST_SKIP() << "needs the buses that accessibility_walk.sh starts";
    EnsureApplication();
    GuardAccessibilityBridge();
    QtEventLoop loop;
    ConsoleWindow console(loop);
    ListBoxRows listRows(console.ListBox());
    QtChatWindowFactory chatWindows(loop);
    console.show();
    listRows.AddRow("Ana");
    listRows.AddRow("Jos\xE9");
    console.SetGauge(0, 0);  // the gauge before the first transfer event
    console.SetStatusText("Conectado");
    std::unique_ptr<ChatView> chat = chatWindows.Create().view;
    chat->SetCaption("Conversacion con : Ana");
    chat->SetTranscriptText(
        "Ana: hola\r\nYo: \xBF"
        "en qu\xE9 le ayudo?");
    chat->Show();

    // A screen reader meets each field by its label's text, each conversation window as a
    // window of its caption, a waiting row by what its picture shows, and a row whose visitor
    // types says so.
    const struct {
        Panel panel;
        bool anaWaits;
        bool joseTypes;
        QStringList shown;
    } rows[] = {
        {Panel::pnTransfer,
         false,
         false,
         {QStringLiteral("[progress bar]"), QStringLiteral("[label] 'Conectado'"),
          QStringLiteral("[graphic] 'Tertulia'")}},
        {Panel::pnLogin,
         false,
         false,
         {QStringLiteral("[push button] 'Conectar'"), QStringLiteral("[text] 'Codigo Empresa'"),
          QStringLiteral(u"[text] 'Contraseña para Chatear'")}},
        {Panel::pnChat,
         true,
         false,
         {QStringLiteral("[list item] 'Ana, espera respuesta'"),
          QStringLiteral(u"[list item] 'Jos\u00E9'"),
          QStringLiteral("[frame] 'Conversacion con : Ana'"), QStringLiteral("[text] 'Mensaje'"),
          QStringLiteral("[push button] 'Enviar'")}},
        {Panel::pnChat, false, false, {QStringLiteral("[list item] 'Ana'  ")}},
        {Panel::pnChat,
         true,
         true,
         {QStringLiteral(u"[list item] 'Jos\u00E9, escribiendo'"),
          QStringLiteral("[list item] 'Ana, espera respuesta'")}},
    };
    for (const auto& row : rows) {
        console.ShowPanel(row.panel);
        listRows.SetRowMarked(0, row.anaWaits);
        listRows.SetRowTyping(1, row.joseTypes);
        const Walk walk = WalkTheTree();
        ASSERT_EQ(walk.exitCode, 0) << walk.output.toStdString();
        // The tree holds the hidden panels too, so one walk shows it all; it is kept in the
        // test's log for whoever wants to read what a screen reader meets.
        if (row.anaWaits) std::cout << walk.output.toStdString();
        for (const QString& shown : row.shown) {
            EXPECT_TRUE(walk.output.contains(shown)) << shown.toStdString() << " not in\n"
                                                     << walk.output.toStdString();
        }
    }
}

}  // namespace
}  // namespace tertulia
