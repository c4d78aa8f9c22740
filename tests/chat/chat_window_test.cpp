#include "chat/chat_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/session/console_harness.h"
#include "tests/support/scripted_service.h"

namespace tertulia {
namespace {

using testing::ConsoleHarness;
using testing::RecordingChatView;
using testing::ScriptedService;

const std::string kChat5 = "/tertulia.php?accion=getchat&idempresa=acme&idsesion=s1&idsesionclt=5";
const std::string kClose5 = "/tertulia.php?accion=dropclt&idempresa=acme&idsesion=s1&idsesionclt=5";

// Window behaviour that makes no request.
struct ChatWindowTest : ::testing::Test {
    static TfrmChatClt Make(ConsoleHarness& harness) {
        ChatWindowParts parts = harness.view.Create();
        return TfrmChatClt(0, harness.console, std::move(parts.view), std::move(parts.timer));
    }
    ChatWindowTest() : window(Make(harness)), view(harness.Chat(0)) {}
    ConsoleHarness harness{"http://127.0.0.1:9"};
    TfrmChatClt window;
    RecordingChatView& view;
};

TEST_F(ChatWindowTest, ItsPollTimerRunsEvery15SecondsFromCreation) {
    EXPECT_EQ(view.handlers, &window);
    EXPECT_EQ(view.timer.interval, 15000);
    EXPECT_TRUE(view.timer.Enabled());
    EXPECT_TRUE(view.timer.HasHandler());
}

TEST_F(ChatWindowTest, ShowTakesTheMarginAndResizeKeepsIt) {
    view.Show();
    EXPECT_TRUE(view.MessageLineHasFocus());
    EXPECT_EQ(window.MargenDerecho, 77);
    view.outerWidth = 611;
    window.FormResize();
    EXPECT_EQ(view.messageWidth, 486);
    EXPECT_EQ(view.sendButtonLeft, 536);
    view.outerWidth = 100;  // no minimum width
    window.FormResize();
    EXPECT_EQ(view.messageWidth, -25);
    EXPECT_EQ(view.sendButtonLeft, 25);
}

TEST_F(ChatWindowTest, CloseFromTheFrameOnlyHides) {
    view.Show();
    window.FormCloseQuery();
    EXPECT_FALSE(view.IsVisible());
    EXPECT_TRUE(view.timer.Enabled());
}

TEST_F(ChatWindowTest, EveryKeyBeginsAFullNewPollInterval) {
    const int starts = view.timer.starts;
    window.edMensajeKeyPress('h');
    window.edMensajeKeyPress('\b');
    EXPECT_EQ(view.timer.starts, starts + 2);
    EXPECT_TRUE(view.timer.Enabled());
}

TEST_F(ChatWindowTest, PollsWithoutVisibilityOrFocusSendNothing) {
    // The service address is closed: a request would fail.
    window.Timer1Timer();  // hidden
    view.Show();
    view.LoseFocus();
    window.Timer1Timer();  // focus elsewhere
    EXPECT_NO_THROW(window.Timer1Timer());
    view.message = " \t ";
    window.edMensajeKeyPress('\r');  // only blanks: nothing sent, line emptied
    EXPECT_EQ(view.messageHistory, (std::vector<std::string>{"", ""}));
}

TEST(TrimMessageTest, RemovesCodesUpTo32AtBothEndsOnly) {
    EXPECT_EQ(TrimMessage("  hola  "), "hola");
    EXPECT_EQ(TrimMessage("\x01\t\r\nhola que\x1F "), "hola que");
    EXPECT_EQ(TrimMessage("   "), "");
    EXPECT_EQ(TrimMessage("\xA0x\xA0"), "\xA0x\xA0");  // the no-break space stays
}

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

TEST_F(OpenChatTest, PollsShowTheTranscriptOnlyWhenItChanged) {
    EXPECT_EQ(chat().transcript, "Ana: hola");
    server.Reply("Ana: hola<br>Ana: <b>&iquest;hay alguien?</b>");
    chat().timer.Fire();
    EXPECT_EQ(chat().transcript, "Ana: hola\r\nAna: \xBFhay alguien?");
    const int replacements = chat().transcriptReplacements;
    server.Reply("Ana: hola\nAna: \xBFhay alguien?");
    chat().timer.Fire();
    EXPECT_EQ(chat().transcriptReplacements, replacements) << "same text: area left alone";
    server.Reply("ERROR. sesion");
    chat().transcriptFocus = true;
    chat().messageFocus = false;
    chat().timer.Fire();
    EXPECT_EQ(chat().errors, std::vector<std::string>{"ERROR. sesion"});
    EXPECT_EQ(chat().transcript, "Ana: hola\r\nAna: \xBFhay alguien?");
    EXPECT_EQ(TargetsAfterLogin(), (std::vector<std::string>{kChat5, kChat5, kChat5}));
}

TEST_F(OpenChatTest, SendTrimsEncodesShowsTheReplyAndEmptiesTheLine) {
    struct Row {
        const char* proves;
        std::string typed;
        std::string reply;
        std::string sentMessage;
        std::vector<std::string> lineHistory;
        std::string transcript;
    };
    const Row rows[] = {
        {"trimmed text written back and sent encoded",
         "  hola  ",
         "Yo: hola",
         "hola",
         {"hola", ""},
         "Yo: hola"},
        {"a line of dropped characters is sent empty", "';", "Yo: ", "", {"';", ""}, "Yo: "},
        {"accented letters and the euro sign are sent escaped",
         "s\xED, \x80",
         "Yo: ",
         "s%ED%2C%20%80",
         {"s\xED, \x80", ""},
         "Yo: "},
        {"an ERROR reply still empties the line",
         "a&b=c",
         "ERROR x",
         "a%26b%3Dc",
         {"a&b=c", ""},
         "Yo: "},
    };
    for (const Row& row : rows) {
        server.Reply(row.reply);
        chat().message = row.typed;
        chat().messageHistory.clear();
        window().edMensajeKeyPress('\r');
        EXPECT_EQ(server.Targets().back(), kChat5 + "&mensaje=" + row.sentMessage) << row.proves;
        EXPECT_EQ(chat().messageHistory, row.lineHistory) << row.proves;
        EXPECT_EQ(chat().transcript, row.transcript) << row.proves;
    }
    EXPECT_EQ(chat().errors, std::vector<std::string>{"ERROR x"});
}

TEST_F(OpenChatTest, AFailedSendEscapesAndKeepsTheTrimmedLine) {
    server.Drop();
    chat().message = " hola ";
    EXPECT_THROW(window().sbEnviarClick(), std::runtime_error);
    EXPECT_EQ(chat().message, "hola");
}

TEST_F(OpenChatTest, CloseAndDeleteSavesClosesRemovesAndIsDestroyedAfterwards) {
    const auto file =
        std::filesystem::temp_directory_path() / ("copia-" + std::to_string(::getpid()) + ".txt");
    chat().transcript = "Ana: hola\r\nYo: adios";
    chat().confirmAnswer = true;
    harness.saveDialog.answer = file.string();
    server.Reply("OK cerrada");
    window().sbCerraryBorrarClick();
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "Ana: hola\r\nYo: adios");
    std::filesystem::remove(file);
    EXPECT_EQ(TargetsAfterLogin(), std::vector<std::string>{kClose5});
    EXPECT_TRUE(harness.Listed().empty());
    EXPECT_EQ(
        harness.log,
        (testing::EventLog{"chat confirm Desea Guardar una Copia de la Conversacion en un Archivo?",
                           "list remove Ana"}));
    EXPECT_EQ(harness.view.chats.size(), 1u);
    harness.view.RunPosted();
    EXPECT_TRUE(harness.view.chats.empty());
}

TEST_F(OpenChatTest, CloseAndDeleteWithoutSavingOrWithARefusal) {
    struct Row {
        const char* proves;
        bool confirm;
        std::optional<std::string> chosen;
        std::string reply;
        bool removed;
    };
    const Row rows[] = {
        {"lower-case ok is a refusal", false, std::nullopt, "ok", false},
        {"ERROR is shown and nothing changes", true, std::nullopt, "ERROR: no", false},
        {"a cancelled save dialog still closes", true, std::nullopt, "OK", true},
    };
    for (const Row& row : rows) {
        const int dialogs = harness.saveDialog.runs;
        chat().confirmAnswer = row.confirm;
        harness.saveDialog.answer = row.chosen;
        server.Reply(row.reply);
        window().sbCerraryBorrarClick();
        EXPECT_EQ(harness.saveDialog.runs, dialogs + (row.confirm ? 1 : 0)) << row.proves;
        EXPECT_EQ(server.Targets().back(), kClose5) << row.proves;
        EXPECT_EQ(harness.Listed().empty(), row.removed) << row.proves;
        if (!row.removed) {
            EXPECT_EQ(chat().errors.back(), row.reply) << row.proves;
        }
    }
}

TEST_F(OpenChatTest, ATranscriptFileThatCannotBeWrittenStopsBeforeTheCloseRequest) {
    chat().confirmAnswer = true;
    harness.saveDialog.answer = "/nonexistent/dir/copia.txt";
    EXPECT_THROW(window().sbCerraryBorrarClick(), std::runtime_error);
    EXPECT_TRUE(TargetsAfterLogin().empty());
    EXPECT_EQ(harness.Listed().size(), 1u);
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
