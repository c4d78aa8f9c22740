#include <gtest/gtest.h>

#include <algorithm>

#include "base/md5.h"
#include "protocol/service_protocol.h"
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
    // One automatic attempt: a probe that connects, and the login answered by `reply`
    // (nothing: the connection is dropped).
    void Attempt(const std::string& reply = {}) {
        reply.empty() ? server.Drop() : server.Reply(reply);
        Connect();
    }
    // A probe that connects, and the login with the replies queued already.
    void Connect() {
        ASSERT_TRUE(harness.tmReconectar.Enabled());
        harness.reach = ConnectProbe::Reach::Reachable;
        harness.tmReconectar.Fire();
    }
    // One probe that finds the service still away.
    void Probe() {
        ASSERT_TRUE(harness.tmReconectar.Enabled());
        harness.reach = ConnectProbe::Reach::Unreachable;
        harness.tmReconectar.Fire();
    }
    long Logins() const {
        const auto targets = server.Targets();
        return std::count_if(targets.begin(), targets.end(), [](const std::string& target) {
            return target.find("accion=do_login") != std::string::npos;
        });
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
            attempt % 2 == 0 ? Probe() : Attempt();
        }
        EXPECT_EQ(Logins(), 1 + 3) << "a login only after a probe that connected";
        EXPECT_EQ(view.errors.size(), 1u) << "failed attempts show no box";
        server.Reply("OK=s2");
        server.Reply("OK,5=Ana|7=Eva|");  // the news poll of the new session
        Connect();
        EXPECT_EQ(view.errorsClosed, 1) << "the box closes itself";
    });
    EXPECT_EQ(delays, std::vector<int>(6, Reconnection::ProbeInterval));
    EXPECT_EQ(harness.probed, std::vector<std::string>(7, server.Url()));
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

TEST_F(ReconnectTest, the_service_is_probed_every_5_s_and_every_minute_after_10_minutes_away) {
    LoseTheService();
    const long loginsBefore = Logins();
    std::vector<int> intervals;
    const auto probeAt = [&](std::chrono::seconds away) {
        harness.now = std::chrono::steady_clock::time_point() + away;
        Probe();
        intervals.push_back(harness.tmReconectar.interval);
    };
    probeAt(std::chrono::seconds(5));
    probeAt(std::chrono::seconds(599));
    probeAt(std::chrono::seconds(600));
    probeAt(std::chrono::seconds(660));
    EXPECT_EQ(intervals, (std::vector<int>{5000, 5000, 60000, 60000}));
    EXPECT_EQ(Logins(), loginsBefore) << "a probe never logs in";

    // A connection that is still being made is looked at again shortly, and given up after
    // its limit; the absence goes on meanwhile.
    harness.reach = ConnectProbe::Reach::Pending;
    harness.tmReconectar.Fire();
    EXPECT_EQ(harness.tmReconectar.interval, Reconnection::LookInterval);
    harness.now += std::chrono::milliseconds(Reconnection::ProbeLimit - 1);
    harness.tmReconectar.Fire();
    EXPECT_EQ(harness.tmReconectar.interval, Reconnection::LookInterval);
    harness.now += std::chrono::milliseconds(1);
    harness.tmReconectar.Fire();
    EXPECT_EQ(harness.tmReconectar.interval, 60000);
    EXPECT_EQ(harness.probed.size(), 5u) << "one probe looked at three times";

    // Once it connects, the login comes at once.
    harness.reach = ConnectProbe::Reach::Pending;
    harness.tmReconectar.Fire();
    server.Reply("OK=s2");
    server.Reply("OK,5=Ana|");
    harness.reach = ConnectProbe::Reach::Reachable;
    harness.tmReconectar.Fire();
    EXPECT_EQ(Logins(), loginsBefore + 1);
    EXPECT_FALSE(harness.tmReconectar.Enabled());

    // The next absence begins with probes every 5 s again.
    harness.now += std::chrono::minutes(30);
    LoseTheService();
    EXPECT_EQ(harness.tmReconectar.interval, 5000);
}

TEST_F(ReconnectTest, attempts_log_in_as_the_last_login_that_worked_until_conectar_replaces_it) {
    const std::string key = harness.settings["Servicio/Consola"];
    const std::string oldLogin = LoginUrl("", "acme", Md5TextOfString("secreta"), key);
    LoseTheService();
    // The operator types into the login panel meanwhile; the attempts go on as they were.
    view.companyCode = "acm";
    view.password.clear();
    Attempt();
    EXPECT_TRUE(harness.tmReconectar.Enabled());
    server.Reply("OK=s2");
    server.Reply("OK,5=Ana|");
    Connect();
    const std::vector<std::string> targets = server.Targets();
    EXPECT_EQ(targets.at(targets.size() - 3), oldLogin);
    EXPECT_EQ(targets.at(targets.size() - 2), oldLogin);
    EXPECT_EQ(targets.back(), "/tertulia.php?accion=get_news&idempresa=acme&idsesion=s2")
        << "the session's requests go with the code that is logged in";
    EXPECT_EQ(view.companyCode, "acme") << "the field shows it again";

    // "Conectar" with another password that works: the attempts use that one from then on.
    view.password = "nueva";
    server.Reply("OK=s3");
    server.Reply("OK,5=Ana|");
    harness.console.btConectarClick();
    LoseTheService();
    server.Reply("OK=s4");
    server.Reply("OK,5=Ana|");
    Connect();
    EXPECT_EQ(server.Targets().at(server.Targets().size() - 2),
              LoginUrl("", "acme", Md5TextOfString("nueva"), key));
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

TEST_F(ReconnectTest, conectar_or_the_settings_stop_the_attempts) {
    LoseTheService();
    server.Reply("ERROR: clave");
    harness.console.btConectarClick();
    EXPECT_FALSE(harness.tmReconectar.Enabled()) << "pressing Conectar";

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
