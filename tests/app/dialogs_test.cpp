#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "app/console_window.h"
#include "app/qt_event_loop.h"
#include "qt_test_support.h"

namespace tertulia {
namespace {

TEST(DialogsTest, boxes_show_their_literal_titles_icons_and_buttons) {
    EnsureApplication();
    QtEventLoop loop;
    ConsoleWindow console(loop);
    loop.SetReportParent(&console);
    console.show();
    struct Row {
        const char* name;
        std::function<void()> open;
        QString press;
        SeenBox expected;
    };
    const QStringList ok{QStringLiteral("OK")};
    const QStringList okCancel{QStringLiteral("OK"), QStringLiteral("Cancel")};
    const Row rows[] = {
        {"error box",
         [&] { console.ShowError("ERROR : \nHTTP/1.1 404 Not Found"); },
         "OK",
         {"Error", "ERROR : \nHTTP/1.1 404 Not Found", QMessageBox::Critical, ok, "OK"}},
        {"reply with tags is shown as it came",
         [&] { console.ShowError("ERROR <b>sin sesion</b><br>vuelva a conectar"); },
         "OK",
         {"Error", "ERROR <b>sin sesion</b><br>vuelva a conectar", QMessageBox::Critical, ok,
          "OK"}},
        {"confirmation",
         [&] {
             console.Confirm(
                 "\xBF"
                 "Desea actualizar?");
         },
         "OK",
         {"Confirm", QStringLiteral(u"\u00BFDesea actualizar?"), QMessageBox::Question, okCancel,
          "OK"}},
        {"warning with its own caption",
         [&] { console.ShowWarning("Error", "Archivo alterado"); },
         "OK",
         {"Error", "Archivo alterado", QMessageBox::Warning, ok, "OK"}},
        {"application error report adds the full stop",
         [&] { loop.ReportFailure("Text exceeds memo capacity"); },
         "OK",
         {"Tertulia", "Text exceeds memo capacity.", QMessageBox::Critical, ok, "OK"}},
    };
    for (const Row& row : rows) {
        const SeenBox seen = ReadModalBox(row.open, row.press);
        EXPECT_EQ(seen.title, row.expected.title) << row.name;
        EXPECT_EQ(seen.text, row.expected.text) << row.name;
        EXPECT_EQ(seen.icon, row.expected.icon) << row.name;
        EXPECT_EQ(seen.buttons, row.expected.buttons) << row.name;
        EXPECT_EQ(seen.defaultButton, row.expected.defaultButton) << row.name;
        EXPECT_TRUE(seen.plainText) << row.name;
    }
}

TEST(DialogsTest, only_ok_confirms) {
    EnsureApplication();
    QtEventLoop loop;
    ConsoleWindow console(loop);
    const struct {
        const char* name;
        QString press;
        bool answer;
    } rows[] = {{"ok", "OK", true}, {"cancel", "Cancel", false}, {"escape", "", false}};
    for (const auto& row : rows) {
        bool answer = !row.answer;
        ReadModalBox([&] { answer = console.Confirm("Desea Guardar?"); }, row.press);
        EXPECT_EQ(answer, row.answer) << row.name;
    }
}

// Return typed at the box that is open now, to its focused button as the keyboard sends it.
void TypeReturnAtTheBox() {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    QWidget* focused = box->focusWidget();
    QTest::keyClick(focused != nullptr ? focused : box, Qt::Key_Return);
}

bool WaitUntil(const std::function<bool()>& condition) {
    QElapsedTimer waited;
    waited.start();
    while (!condition() && waited.elapsed() < 3000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return condition();
}

TEST(DialogsTest,
     a_box_that_no_operator_action_opened_ignores_keys_for_a_second_then_gives_the_focus_back) {
    EnsureApplication();
    QtEventLoop loop;
    ConsoleWindow console(loop);
    console.show();
    QLineEdit messageLine;
    messageLine.show();
    messageLine.activateWindow();
    messageLine.setFocus();
    ASSERT_TRUE(WaitUntil([&] { return messageLine.hasFocus(); }));
    const struct {
        const char* name;
        bool unbidden;
    } rows[] = {{"a poll's box", true}, {"the operator's own", false}};
    for (const auto& row : rows) {
        bool openAfterHalfASecond = false;
        const QObject rowScope;  // what is not due by the row's end never comes
        QTimer::singleShot(100, &rowScope, [] { TypeReturnAtTheBox(); });
        QTimer::singleShot(500, &rowScope, [&] {
            openAfterHalfASecond = QApplication::activeModalWidget() != nullptr;
        });
        QTimer::singleShot(kUnbiddenBoxDeafMilliseconds + 200, &rowScope,
                           [] { TypeReturnAtTheBox(); });
        const auto open = [&] { console.ShowError("ERROR : \nSocket Error # 10061"); };
        row.unbidden ? loop.RunUnbidden(open) : loop.Run(open);
        EXPECT_EQ(openAfterHalfASecond, row.unbidden) << row.name;
        if (row.unbidden) {
            EXPECT_TRUE(WaitUntil([&] { return messageLine.hasFocus(); }))
                << "the focus went to " << QApplication::focusWidget();
        }
        messageLine.activateWindow();
        messageLine.setFocus();
        ASSERT_TRUE(WaitUntil([&] { return messageLine.hasFocus(); }));
    }
}

TEST(DialogsTest, close_errors_closes_the_boxes_of_an_outage_also_a_windows_failed_poll) {
    EnsureApplication();
    QtEventLoop loop;
    ConsoleWindow console(loop);
    loop.SetReportParent(&console);
    console.show();
    QStringList opened;
    bool reportReturned = false;
    const QObject scope;  // what is not due by the test's end never comes
    const auto noteTheBox = [&] {
        if (QWidget* box = QApplication::activeModalWidget()) opened << box->windowTitle();
    };
    QTimer::singleShot(50, &scope, [&] {
        noteTheBox();
        // A conversation window's poll fails while the news poll's box is open.
        loop.RunUnbidden([] { throw std::runtime_error("Socket Error # 10061"); });
        reportReturned = true;
    });
    QTimer::singleShot(150, &scope, [&] {
        noteTheBox();
        console.CloseErrors();
    });
    // Nothing hangs if they stay open.
    QTimer::singleShot(3000, &scope, [] {
        while (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    QElapsedTimer took;
    took.start();
    loop.RunUnbidden([&] { console.ShowError("ERROR : \nSocket Error # 10061"); });
    EXPECT_LT(took.elapsed(), 2000);
    EXPECT_TRUE(reportReturned);
    EXPECT_EQ(opened, (QStringList{QStringLiteral("Error"), QStringLiteral("Tertulia")}));
}

}  // namespace
}  // namespace tertulia
