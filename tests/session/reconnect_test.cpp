#include <gtest/gtest.h>

#include <algorithm>

#include "tests/session/console_harness.h"
#include "tests/support/scripted_service.h"
#include "tests/support/table_rows.h"

namespace tertulia {
namespace {

using testing::ConsoleHarness;
using testing::ScriptedService;

// A console logged in to "acme" as "s1", with conversation 5 of Ana open.
struct LoggedInConsole {
    LoggedInConsole() {
        harness.console.FormCreate();
        view.companyCode = "acme";
        view.password = "secreta";
        server.Reply("OK=s1");
        server.Reply("OK,5=Ana|");
        harness.console.btConectarClick();
    }
    // The news poll finds the service gone; `whileTheBoxIsOpen` runs while its error box is.
    void LoseTheService(std::function<void()> whileTheBoxIsOpen = nullptr) {
        server.Drop();
        view.dialog.duringNext = std::move(whileTheBoxIsOpen);
        harness.tmIdle.Fire();
    }
    // One automatic attempt, answered by `reply` (nothing: the service is still gone).
    void Attempt(const std::string& reply = {}) {
        ASSERT_TRUE(harness.tmReconectar.Enabled());
        reply.empty() ? server.Drop() : server.Reply(reply);
        harness.tmReconectar.Fire();
    }
    bool Logged(const std::string& signal) const {
        return std::find(view.signalLog.begin(), view.signalLog.end(), signal) !=
               view.signalLog.end();
    }

    ScriptedService server;
    ConsoleHarness harness{server.Url()};
    testing::RecordingConsoleView& view = harness.view;
};

struct ReconnectTest : ::testing::Test, LoggedInConsole {};

TEST_F(ReconnectTest, logs_in_by_itself_while_the_error_box_is_open_and_closes_it) {
    std::vector<int> delays;
    LoseTheService([&] {
        for (int attempt = 0; attempt < 6; ++attempt) {
            delays.push_back(harness.tmReconectar.interval);
            EXPECT_EQ(view.status.rfind("Reintentando la conexi\xF3n a las ", 0), 0u)
                << view.status;
            Attempt();
        }
        EXPECT_EQ(view.errors.size(), 1u) << "failed attempts show no box";
        server.Reply("OK=s2");
        server.Reply("OK,5=Ana|7=Eva|");  // the news poll of the new session
        harness.tmReconectar.Fire();
        EXPECT_EQ(view.errorsClosed, 1) << "the box closes itself";
    });
    EXPECT_EQ(delays, (std::vector<int>{5000, 10000, 20000, 40000, 60000, 60000}));
    EXPECT_EQ(view.panel, Panel::pnChat) << "the list stays once the box has returned";
    EXPECT_TRUE(harness.tmIdle.Enabled());
    EXPECT_FALSE(harness.tmReconectar.Enabled());
    EXPECT_EQ(harness.ListedIds(), (std::vector<std::string>{"5=Ana", "7=Eva"}));
    EXPECT_TRUE(Logged("withdraw disconnected"));
    EXPECT_TRUE(Logged("connected icon"));
    EXPECT_TRUE(Logged("notify reconnected Tertulia: Conexi\xF3n restablecida"));

    // The open window works with the new session.
    server.Reply("Ana: hola");
    harness.Chat(0).TakeFocus();
    EXPECT_EQ(server.Targets().back(),
              "/tertulia.php?accion=getchat&idempresa=acme&idsesion=s2&idsesionclt=5");

    // A later loss starts again at 5 s.
    LoseTheService();
    EXPECT_EQ(harness.tmReconectar.interval, 5000);
}

TEST_F(ReconnectTest, a_refused_login_stops_the_attempts_and_is_shown_once) {
    LoseTheService();
    EXPECT_EQ(view.panel, Panel::pnLogin);
    Attempt();
    Attempt("ERROR: clave incorrecta");
    EXPECT_FALSE(harness.tmReconectar.Enabled());
    EXPECT_EQ(view.errors.back(), "ERROR: clave incorrecta");
    EXPECT_EQ(view.errors.size(), 2u);
    EXPECT_EQ(view.errorsClosed, 1) << "the box about the lost service goes";
    EXPECT_EQ(view.panel, Panel::pnLogin);
    EXPECT_FALSE(Logged("notify reconnected Tertulia: Conexi\xF3n restablecida"));
}

TEST_F(ReconnectTest, the_operator_or_the_settings_stop_the_attempts) {
    struct Row {
        const char* name;
        std::function<void(LoggedInConsole&)> act;
    };
    const Row rows[] = {
        {"typing in a field",
         [](LoggedInConsole& test) { test.harness.console.LoginFieldEdited(); }},
        {"pressing Conectar",
         [](LoggedInConsole& test) {
             test.server.Reply("ERROR: clave");
             test.harness.console.btConectarClick();
         }},
    };
    testing::ForEachRow(rows, [](const Row& row) {
        LoggedInConsole test;
        test.LoseTheService();
        row.act(test);
        EXPECT_FALSE(test.harness.tmReconectar.Enabled());
    });

    LoggedInConsole emptied;
    emptied.view.password.clear();
    emptied.LoseTheService();
    EXPECT_FALSE(emptied.harness.tmReconectar.Enabled()) << "no password typed: nothing to try";

    ScriptedService server;
    ConsoleHarness switchedOff(server.Url());
    switchedOff.settings["Servicio/Reconectar"] = "0";
    switchedOff.console.FormCreate();
    switchedOff.view.companyCode = "acme";
    switchedOff.view.password = "secreta";
    server.Reply("OK=s1");
    server.Drop();
    switchedOff.console.btConectarClick();
    EXPECT_FALSE(switchedOff.tmReconectar.Enabled()) << "Reconectar=0";
}

TEST_F(ReconnectTest, a_lapsed_session_is_renewed_by_itself) {
    server.Reply("ERROR. La sesion no existe");
    harness.tmIdle.Fire();
    EXPECT_EQ(view.panel, Panel::pnLogin);
    EXPECT_FALSE(view.disconnectedIcon) << "the service answered";
    server.Reply("OK=s3");
    server.Reply("OK,5=Ana|");
    harness.tmReconectar.Fire();
    EXPECT_EQ(view.panel, Panel::pnChat);
    EXPECT_EQ(harness.ListedIds(), std::vector<std::string>{"5=Ana"});
}

TEST_F(ReconnectTest, a_login_to_another_company_closes_the_old_windows_on_this_side_only) {
    server.Reply("OK=s2");
    server.Reply("OK,");
    harness.console.btConectarClick();  // the same company again
    ASSERT_EQ(harness.ListedIds(), std::vector<std::string>{"5=Ana"});

    view.companyCode = "otra";
    server.Reply("OK");  // the session of "acme" ends first, handing Ana on
    server.Reply("OK=t1");
    server.Reply("OK,8=Luis|");
    harness.console.btConectarClick();
    const std::vector<std::string> targets = server.Targets();
    ASSERT_GE(targets.size(), 3u);
    EXPECT_EQ(targets[targets.size() - 3],
              "/tertulia.php?accion=do_logout&idempresa=acme&idsesion=s2");
    EXPECT_EQ(harness.ListedIds(), std::vector<std::string>{"8=Luis"});
    EXPECT_EQ(view.listItems, std::vector<std::string>{"Luis"});
    EXPECT_TRUE(Logged("withdraw 5"));
    EXPECT_EQ(view.waiting, 1) << "only Luis waits";
    ASSERT_EQ(view.chats.size(), 2u) << "destroyed once the handler returned";
    EXPECT_FALSE(harness.Chat(0).IsVisible());
    view.RunPosted();
    ASSERT_EQ(view.chats.size(), 1u);
    EXPECT_EQ(harness.Chat(0).caption, "Conversacion con : Luis");
    for (const std::string& target : server.Targets()) {
        EXPECT_EQ(target.find("dropclt"), std::string::npos) << "closed on the service: " << target;
    }
}

TEST_F(ReconnectTest, each_new_window_sits_off_the_one_opened_before_it) {
    harness.view.onChatCreated = [](testing::RecordingChatView& chat) {
        chat.usableArea = {0, 30, 460, 330};
    };
    server.Reply("OK,5=Ana|6=Eva|7=Luis|");
    harness.tmIdle.Fire();
    ASSERT_EQ(view.chats.size(), 3u);
    EXPECT_EQ(harness.Chat(0).frame.left, 398) << "the first keeps its place";
    EXPECT_EQ(harness.Chat(1).frame, (ScreenRect{0, 30, 411, 270}))
        << "422 + 411 would leave the area: its top left";
    EXPECT_EQ(harness.Chat(2).frame, (ScreenRect{24, 54, 411, 270}));

    // With every window closed the next one takes the first place again.
    for (int closed = 0; closed < 3; ++closed) {
        server.Reply("OK");
        harness.Chat(0).handlers->sbCerraryBorrarClick();
        view.RunPosted();
    }
    server.Reply("OK,9=Sol|");
    harness.tmIdle.Fire();
    EXPECT_EQ(harness.Chat(0).frame.left, 398);
}

}  // namespace
}  // namespace tertulia
