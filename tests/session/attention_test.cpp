#include <gtest/gtest.h>

#include <algorithm>

#include "session/waiting_notices.h"
#include "tests/session/console_harness.h"
#include "tests/support/scripted_service.h"
#include "tests/support/table_rows.h"

namespace tertulia {
namespace {

using testing::ConsoleHarness;
using testing::ScriptedService;

std::string Chat(int id) {
    return "/tertulia.php?accion=getchat&idempresa=acme&idsesion=s1&idsesionclt=" +
           std::to_string(id);
}

// A logged-in console, which opened the conversations of `news` in windows that did not take
// the keyboard focus: their first polls fetched nothing.
struct AttentionTest : ::testing::Test {
    void Start(const std::string& news) {
        harness.console.FormCreate();
        harness.view.companyCode = "acme";
        server.Reply("OK=s1");
        server.Reply(news);
        harness.console.btConectarClick();
    }
    void Poll(const std::string& news) {
        server.Reply(news);
        harness.tmIdle.Fire();
    }
    // Whether the conversation of this row waits for the operator, as its mark in the list shows.
    bool Unattended(std::size_t index) const { return view.RowMarked(index); }
    long Count(const std::string& signal) const {
        return std::count(view.signalLog.begin(), view.signalLog.end(), signal);
    }

    ScriptedService server;
    ConsoleHarness harness{server.Url()};
    testing::RecordingConsoleView& view = harness.view;
};

TEST_F(AttentionTest, waits_from_opening_until_focused_and_again_when_the_visitor_writes_unseen) {
    Start("OK lineas=5:1,5=Ana|");
    testing::RecordingChatView& ana = harness.Chat(0);
    EXPECT_TRUE(Unattended(0)) << "open";
    EXPECT_TRUE(view.RowMarked(0));
    EXPECT_EQ(view.notifications,
              (std::map<std::int32_t, std::string>{{5, "Conversacion con : Ana"}}));
    EXPECT_EQ(view.notificationBodies.at(5), "Nueva conversaci\xF3n");
    EXPECT_EQ(view.waiting, 1);
    EXPECT_EQ(view.trayTip, "Tertulia: 1 conversaci\xF3n espera");
    EXPECT_EQ(view.plays, 2) << "the poll that opened it plays the sound twice, no more";
    EXPECT_EQ(view.reminders, 0);

    Poll("OK lineas=5:1,5=Ana|");
    EXPECT_EQ(view.reminders, 1) << "every poll while it waits";
    EXPECT_EQ(Count("notify 5 Conversacion con : Ana"), 1) << "nothing new: not notified again";

    // Focus: its transcript at once, and attended.
    server.Reply("Ana: hola\r\nAna: sigue");
    ana.TakeFocus();
    EXPECT_EQ(server.Targets().back(), Chat(5));
    EXPECT_EQ(ana.transcript, "Ana: hola\r\nAna: sigue");
    EXPECT_FALSE(Unattended(0));
    EXPECT_FALSE(view.RowMarked(0));
    EXPECT_TRUE(view.notifications.empty());
    EXPECT_EQ(view.waiting, 0);
    EXPECT_EQ(view.trayTip, "");
    const std::size_t requests = server.Targets().size();
    ana.TakeFocus();
    EXPECT_EQ(server.Targets().size(), requests) << "an attended window waits for its poll";

    Poll("OK lineas=5:2,5=Ana|");
    EXPECT_FALSE(Unattended(0)) << "count grows while focused";
    EXPECT_EQ(view.reminders, 1);

    ana.LoseFocus();
    Poll("OK lineas=5:3,5=Ana|");
    EXPECT_TRUE(Unattended(0)) << "count grows unfocused";
    EXPECT_TRUE(view.RowMarked(0));
    EXPECT_EQ(Count("notify 5 Conversacion con : Ana"), 2);
    EXPECT_EQ(view.notificationBodies.at(5), "El visitante espera respuesta.")
        << "the line it last fetched was read: no news";
    EXPECT_EQ(view.waiting, 1);
    EXPECT_EQ(view.reminders, 2);

    Poll("OK lineas=5:4,5=Ana|");
    EXPECT_EQ(Count("notify 5 Conversacion con : Ana"), 3) << "replaced as the visitor goes on";
    EXPECT_EQ(Count("withdraw 5"), 1);
}

TEST_F(AttentionTest, an_older_service_without_counts_waits_only_until_the_first_focus) {
    Start("OK,5=Ana|7=Eva|");
    EXPECT_EQ(view.waiting, 2);
    EXPECT_EQ(view.trayTip, "Tertulia: 2 conversaciones esperan");
    EXPECT_EQ(view.markedRows, (std::vector<bool>{true, true}));

    server.Reply("");
    harness.Chat(1).TakeFocus();
    EXPECT_EQ(view.markedRows, (std::vector<bool>{true, false})) << "the row of its own";
    EXPECT_EQ(view.waiting, 1);
    harness.Chat(1).LoseFocus();

    server.Reply("");
    harness.Chat(0).TakeFocus();
    harness.Chat(0).LoseFocus();
    for (int poll = 0; poll < 2; ++poll) Poll("OK,5=Ana|7=Eva|");
    EXPECT_FALSE(Unattended(0));
    EXPECT_FALSE(Unattended(1));
    EXPECT_EQ(view.reminders, 0);
    EXPECT_TRUE(view.notifications.empty());
}

TEST_F(AttentionTest, a_click_on_the_notification_shows_the_window_and_closing_withdraws_it) {
    Start("OK lineas=5:0;7:2,5=Ana|7=Eva|");
    harness.Chat(0).Hide();
    harness.console.NotificationClicked(5);
    EXPECT_TRUE(harness.Chat(0).IsVisible());
    harness.console.NotificationClicked(99);  // no longer listed: nothing

    server.Reply("OK");
    harness.Chat(1).handlers->sbCerraryBorrarClick();
    EXPECT_EQ(view.notifications,
              (std::map<std::int32_t, std::string>{{5, "Conversacion con : Ana"}}));
    EXPECT_EQ(view.markedRows, std::vector<bool>{true});
    EXPECT_EQ(view.waiting, 1);
}

TEST(AttentionSwitchesTest, each_signal_follows_its_setting) {
    struct Row {
        const char* name;
        std::map<std::string, std::string> settings;
        bool mark, notification, tray, reminder;
    };
    const Row rows[] = {
        {"all on by default", {}, true, true, true, true},
        {"Marca=0", {{"Avisos/Marca", "0"}}, false, true, true, true},
        {"Notificaciones=0", {{"Avisos/Notificaciones", "0"}}, true, false, true, true},
        {"Bandeja=0", {{"Avisos/Bandeja", "0"}}, true, true, false, true},
        {"Sonido=0", {{"Avisos/Sonido", "0"}}, true, true, true, false},
        {"1 is on", {{"Avisos/Marca", "1"}, {"Avisos/Sonido", "1"}}, true, true, true, true},
    };
    testing::ForEachRow(rows, [](const Row& row) {
        ScriptedService server;
        ConsoleHarness harness(server.Url());
        harness.settings = row.settings;
        harness.console.FormCreate();
        harness.view.companyCode = "acme";
        server.Reply("OK=s1");
        server.Reply("OK lineas=5:1,5=Ana|");
        harness.console.btConectarClick();
        server.Reply("OK lineas=5:1,5=Ana|");
        harness.tmIdle.Fire();
        EXPECT_EQ(harness.view.RowMarked(0), row.mark);
        EXPECT_EQ(harness.view.notifications.size(), row.notification ? 1u : 0u);
        EXPECT_EQ(harness.view.waiting, row.tray ? 1 : 0);
        EXPECT_EQ(harness.view.reminders, row.reminder ? 1 : 0);
        EXPECT_EQ(harness.view.plays, 2) << "a new conversation's sound is not switched";
    });
}

TEST_F(AttentionTest, a_news_poll_that_cannot_reach_the_service_shows_the_disconnection) {
    Start("OK,");
    bool iconBeforeTheBox = false;
    view.dialog.duringNext = [&] { iconBeforeTheBox = view.disconnectedIcon; };
    server.Drop();
    harness.tmIdle.Fire();
    EXPECT_TRUE(iconBeforeTheBox) << "shown while the error box waits for the operator";
    EXPECT_EQ(view.disconnectedTip.rfind("Tertulia: Sin conexi\xF3n con el servicio desde las ", 0),
              0u)
        << view.disconnectedTip;
    ASSERT_TRUE(view.disconnectedNotice.has_value());
    EXPECT_NE(view.disconnectedNotice->find("Motivo: el servicio ha cerrado la conexi\xF3n."),
              std::string::npos)
        << *view.disconnectedNotice;
    EXPECT_EQ(view.panel, Panel::pnLogin);

    // A refused login is no reconnection.
    server.Reply("ERROR: clave");
    harness.console.btConectarClick();
    EXPECT_TRUE(view.disconnectedIcon);

    server.Reply("OK=s1");
    server.Reply("OK,");
    harness.console.btConectarClick();
    EXPECT_FALSE(view.disconnectedIcon);
    EXPECT_FALSE(view.disconnectedNotice.has_value());
    EXPECT_EQ(Count("notify disconnected Tertulia"), 1);
}

// Without an event stream: the lines that the focused window's own poll fetched count as seen.
TEST_F(AttentionTest, lines_read_in_the_focused_window_never_make_it_wait_again) {
    Start("OK lineas=5:0,5=Ana|");
    testing::RecordingChatView& ana = harness.Chat(0);
    server.Reply("");
    ana.TakeFocus();
    server.Reply("<b>Ana</b>: hola<br><b>Operador</b>: dime<br><b>Ana</b>: sigo");
    ana.timer.Fire();
    ana.LoseFocus();
    Poll("OK lineas=5:2,5=Ana|");
    EXPECT_FALSE(Unattended(0)) << "both lines were in the transcript it showed";
    EXPECT_FALSE(view.RowMarked(0));
    EXPECT_TRUE(view.notifications.empty());

    Poll("OK lineas=5:3,5=Ana|");
    EXPECT_TRUE(Unattended(0)) << "a line written after that fetch";
}

TEST_F(AttentionTest, more_than_three_waiting_conversations_share_one_notification) {
    Start("OK,1=A|2=B|3=C|");
    EXPECT_EQ(view.notifications.size(), 3u);
    EXPECT_FALSE(view.summaryNotice.has_value());

    std::string fourteen = "OK,";
    for (int id = 1; id <= 14; ++id)
        fourteen += std::to_string(id) + "=V" + std::to_string(id) + "|";
    Poll(fourteen);
    EXPECT_TRUE(view.notifications.empty());
    EXPECT_EQ(view.summaryNotice,
              "14 conversaciones esperan respuesta: A, B, C, V4, V5, V6, V7, "
              "V8, V9, V10, V11, V12, V13, V14");
    EXPECT_EQ(view.waiting, 14);
    Poll(fourteen);
    EXPECT_EQ(Count("notify summary 14 conversaciones esperan respuesta"), 1) << "nothing new";

    // The operator attends to all but three: each of those three has its own again.
    for (std::size_t index = 0; index < 11; ++index) {
        server.Reply("");
        harness.Chat(index).TakeFocus();
        harness.Chat(index).LoseFocus();
    }
    EXPECT_FALSE(view.summaryNotice.has_value());
    EXPECT_EQ(view.notifications,
              (std::map<std::int32_t, std::string>{{12, "Conversacion con : V12"},
                                                   {13, "Conversacion con : V13"},
                                                   {14, "Conversacion con : V14"}}));
    EXPECT_LE(view.mostNotificationsOut, 4);
}

TEST(WaitingNoticesTest, the_body_is_the_visitors_latest_line_cut_at_120) {
    const std::string long_line(130, 'x');
    struct Row {
        const char* name;
        std::string reply;
        std::optional<std::string> line;
    };
    const Row rows[] = {
        {"the last line of the visitor's",
         "<b>Ana</b>: hola<br><b>Operador</b>: dime<br>"
         "<b>Ana</b>: &iquest;precio?<br><b>Operador</b>: 5",
         "\xBFprecio?"},
        {"only the operator wrote", "<b>Operador</b>: hola", std::nullopt},
        {"a name that only begins alike", "<b>Anabel</b>: hola", std::nullopt},
        {"an error reply", "ERROR. sesion", std::nullopt},
        {"the first line", "<b>Ana</b>: primera", "primera"},
    };
    testing::ForEachRow(rows, [](const Row& row) {
        EXPECT_EQ(UltimaLineaDelVisitante(row.reply, "Ana"), row.line);
    });
    EXPECT_EQ(LineasEscritasPor(rows[0].reply, "Ana"), 2);
    EXPECT_EQ(LineasEscritasPor(rows[3].reply, "Ana"), 0);
    EXPECT_EQ(NotificationBody(std::string(120, 'x')), std::string(120, 'x'));
    EXPECT_EQ(NotificationBody(long_line), std::string(120, 'x') + "\x85");
}

}  // namespace
}  // namespace tertulia
