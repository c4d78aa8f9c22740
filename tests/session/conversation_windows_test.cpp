#include "session/conversation_windows.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/session/console_harness.h"
#include "tests/support/scripted_service.h"

namespace tertulia {
namespace {

using testing::ConsoleHarness;
using testing::RecordingChatView;
using testing::ScriptedService;

const std::string kChat5 = "/tertulia.php?accion=getchat&idempresa=acme&idsesion=s1&idsesionclt=5";
const std::string kClose5 = "/tertulia.php?accion=dropclt&idempresa=acme&idsesion=s1&idsesionclt=5";

// A console logged in as session "s1" with the conversation 5 of Ana open and shown. Its
// window manager activates new windows, so that each new window's first poll fetches.
struct OpenChatTest : ::testing::Test {
    OpenChatTest() {
        harness.view.windowManagerActivates = true;
        harness.view.companyCode = "acme";
        server.Reply("OK=s1");
        server.Reply("OK,5=Ana|");
        server.Reply("Ana: hola");
        harness.console.btConectarClick();
        harness.log.clear();
    }
    RecordingChatView& chat() { return harness.Chat(0); }
    ChatHandlers& window() { return *chat().handlers; }
    std::vector<std::string> TargetsAfterLogin() {
        const auto all = server.Targets();
        return {all.begin() + 3, all.end()};
    }

    ScriptedService server;
    ConsoleHarness harness{server.Url()};
};

TEST_F(OpenChatTest, the_windows_requests_carry_the_consoles_login_and_close_removes_it_later) {
    EXPECT_EQ(chat().transcript, "Ana: hola");
    server.Reply("Yo: hola");
    chat().message = "hola";
    window().sbEnviarClick();
    server.Reply("OK");
    window().sbCerraryBorrarClick();
    EXPECT_EQ(TargetsAfterLogin(), (std::vector<std::string>{kChat5 + "&mensaje=hola", kClose5}));
    EXPECT_TRUE(harness.Listed().empty());
    EXPECT_EQ(harness.log.back(), "list remove Ana");
    EXPECT_EQ(harness.view.chats.size(), 1u) << "destroyed once the handler returned";
    harness.view.RunPosted();
    EXPECT_TRUE(harness.view.chats.empty());
}

TEST_F(OpenChatTest, a_new_window_goes_under_the_window_the_operator_types_in) {
    harness.view.windowManagerActivates = false;
    ASSERT_TRUE(chat().MessageLineHasFocus());
    server.Reply("OK,5=Ana|7=Eva|");
    harness.console.tmIdleTimer();
    const auto shown = std::find(harness.log.begin(), harness.log.end(),
                                 "chat show in background Conversacion con : Eva");
    ASSERT_NE(shown, harness.log.end());
    ASSERT_NE(shown + 1, harness.log.end());
    EXPECT_EQ(*(shown + 1), "chat raise Conversacion con : Ana");
    EXPECT_NE(harness.Chat(1).frame, chat().frame) << "its cascade place is kept";

    chat().LoseFocus();
    harness.log.clear();
    server.Reply("OK,5=Ana|7=Eva|9=Luis|");
    harness.console.tmIdleTimer();
    EXPECT_EQ(
        std::count_if(harness.log.begin(), harness.log.end(),
                      [](const std::string& entry) { return entry.starts_with("chat raise"); }),
        0)
        << "no window had the focus";
}

// Window messages are served while a modal box is open: what runs there runs to completion,
// and the interrupted handler goes on undisturbed.
TEST_F(OpenChatTest, AWindowsPollDuringTheErrorBoxOfANewWindowsFirstPoll) {
    server.Reply("OK,5=Ana|7=Eva|");
    server.Reply("ERROR sin permiso");            // the first poll of 7
    server.Reply("Ana: hola<br>Ana: sigo aqui");  // the poll of 5, nested in 7's error box
    harness.view.onChatCreated = [&](RecordingChatView& created) {
        created.dialog.duringNext = [&] {
            chat().timer.Fire();
            harness.view.RunPosted();
        };
    };
    harness.console.tmIdleTimer();
    EXPECT_EQ(chat().transcript, "Ana: hola\r\nAna: sigo aqui");
    EXPECT_EQ(harness.Chat(1).errors, std::vector<std::string>{"ERROR sin permiso"});
    EXPECT_EQ(harness.ListedIds(), (std::vector<std::string>{"5=Ana", "7=Eva"}));
    EXPECT_EQ(harness.Listed()[1].window->IdSesionClt(), 7);
    EXPECT_EQ(&harness.Listed()[1].window->View(), &harness.Chat(1));
    EXPECT_EQ(server.Targets().back(), kChat5);
    EXPECT_TRUE(harness.tmIdle.Enabled());
}

TEST_F(OpenChatTest, AnotherWindowsCloseAndDeleteDuringAnErrorBoxOfANewOrSendingWindow) {
    // 5 is closed, and destroyed, while the first poll of 7 shows its error box.
    server.Reply("OK,7=Eva|9=Luis|");
    server.Reply("ERROR sin permiso");  // the first poll of 7
    server.Reply("OK");                 // 5's close request, nested in 7's error box
    server.Reply("Luis: hola");         // the first poll of 9
    harness.view.onChatCreated = [&](RecordingChatView& created) {
        harness.view.onChatCreated = nullptr;
        created.dialog.duringNext = [&] {
            chat().handlers->sbCerraryBorrarClick();
            harness.view.RunPosted();
        };
    };
    harness.console.tmIdleTimer();
    EXPECT_EQ(harness.ListedIds(), (std::vector<std::string>{"7=Eva", "9=Luis"}));
    EXPECT_EQ(harness.view.listItems, (std::vector<std::string>{"Eva", "Luis"}));
    ASSERT_EQ(harness.view.chats.size(), 2u);
    EXPECT_EQ(&harness.Listed()[0].window->View(), &harness.Chat(0));
    EXPECT_EQ(harness.Chat(0).caption, "Conversacion con : Eva");
    EXPECT_TRUE(harness.tmIdle.Enabled());

    // 7 is closed, and destroyed, while 9's send shows its error box; 9 goes on to empty its line.
    server.Reply("ERROR no enviado");
    server.Reply("OK");
    RecordingChatView& luis = harness.Chat(1);
    luis.dialog.duringNext = [&] {
        harness.Chat(0).handlers->sbCerraryBorrarClick();
        harness.view.RunPosted();
    };
    luis.message = "hola";
    luis.handlers->sbEnviarClick();
    EXPECT_EQ(luis.message, "");
    EXPECT_EQ(harness.ListedIds(), std::vector<std::string>{"9=Luis"});
    ASSERT_EQ(harness.view.chats.size(), 1u);
    EXPECT_EQ(&harness.Listed()[0].window->View(), &luis);
}

// A window closed from the error box of its own first poll was never listed: it is not listed
// afterwards either, and it goes once the news poll has returned.
TEST_F(OpenChatTest, a_window_closed_during_its_own_first_poll_is_never_listed) {
    server.Reply("OK,5=Ana|7=Eva|");
    server.Reply("ERROR sin permiso");  // the first poll of 7
    server.Reply("OK");                 // 7's own close request, from that error box
    harness.view.onChatCreated = [&](RecordingChatView& created) {
        created.dialog.duringNext = [&created] { created.handlers->sbCerraryBorrarClick(); };
    };
    harness.console.tmIdleTimer();
    EXPECT_EQ(harness.ListedIds(), std::vector<std::string>{"5=Ana"});
    EXPECT_EQ(harness.view.listItems, std::vector<std::string>{"Ana"});
    EXPECT_TRUE(harness.tmIdle.Enabled());
    ASSERT_EQ(harness.view.chats.size(), 2u) << "destroyed only after the poll returned";
    harness.view.RunPosted();
    ASSERT_EQ(harness.view.chats.size(), 1u);
    EXPECT_EQ(&harness.Listed()[0].window->View(), &harness.Chat(0));
}

TEST_F(OpenChatTest, ANewsPollDuringTheConfirmationOfCloseAndDelete) {
    server.Reply("OK,7=Eva|");  // the news poll, nested in 5's confirmation box
    server.Reply("Eva: buenas");
    server.Reply("OK");  // the close request of 5
    chat().confirmAnswer = false;
    chat().dialog.duringNext = [&] { harness.tmIdle.Fire(); };
    window().sbCerraryBorrarClick();
    EXPECT_EQ(
        TargetsAfterLogin(),
        (std::vector<std::string>{
            "/tertulia.php?accion=get_news&idempresa=acme&idsesion=s1",
            "/tertulia.php?accion=getchat&idempresa=acme&idsesion=s1&idsesionclt=7", kClose5}));
    EXPECT_EQ(harness.ListedIds(), std::vector<std::string>{"7=Eva"});
    EXPECT_EQ(harness.view.listItems, std::vector<std::string>{"Eva"});
    harness.view.RunPosted();
    ASSERT_EQ(harness.view.chats.size(), 1u);
    EXPECT_EQ(harness.Chat(0).caption, "Conversacion con : Eva");
    EXPECT_EQ(harness.Chat(0).transcript, "Eva: buenas");
}

}  // namespace
}  // namespace tertulia
