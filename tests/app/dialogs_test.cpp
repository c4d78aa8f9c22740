#include <gtest/gtest.h>

#include <QMessageBox>

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

}  // namespace
}  // namespace tertulia
