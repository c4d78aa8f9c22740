#include "chat/chat_window.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>

#include "tests/chat/chat_doubles.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/whole_file.h"

namespace tertulia {
namespace {

using testing::FakeRequests;
using testing::RecordingChatView;
using testing::RecordingTimer;

// The window of conversation 5 over a recording view and a fake console.
struct ChatWindowTest : ::testing::Test {
    ChatWindowTest() {
        auto timer = std::make_unique<RecordingTimer>();
        auto typing = std::make_unique<RecordingTimer>();
        typingTimer = typing.get();
        auto made = std::make_unique<RecordingChatView>(log, chats, *timer);
        view = made.get();
        window = std::make_unique<TfrmChatClt>(5, requests, std::move(made), std::move(timer),
                                               std::move(typing));
    }
    // Shown with the focus in its message line, as the operator works in it.
    void ShowFocused() {
        view->Show();
        requests.calls.clear();
    }

    testing::EventLog log;
    std::vector<RecordingChatView*> chats;
    FakeRequests requests;
    RecordingChatView* view = nullptr;
    RecordingTimer* typingTimer = nullptr;
    std::unique_ptr<TfrmChatClt> window;
};

TEST_F(ChatWindowTest, ItsPollTimerRunsEvery15SecondsFromCreation) {
    EXPECT_EQ(view->handlers, window.get());
    EXPECT_EQ(view->timer.interval, 15000);
    EXPECT_TRUE(view->timer.Enabled());
    EXPECT_TRUE(view->timer.HasHandler());
}

TEST_F(ChatWindowTest, ShowTakesTheMarginAndResizeKeepsIt) {
    view->Show();
    EXPECT_TRUE(view->MessageLineHasFocus());
    EXPECT_EQ(window->MargenDerecho, 77);
    view->outerWidth = 611;
    window->FormResize();
    EXPECT_EQ(view->messageWidth, 486);
    EXPECT_EQ(view->sendButtonLeft, 536);
    view->outerWidth = 100;  // no minimum width
    window->FormResize();
    EXPECT_EQ(view->messageWidth, -25);
    EXPECT_EQ(view->sendButtonLeft, 25);
}

TEST_F(ChatWindowTest, CloseFromTheFrameOnlyHides) {
    view->Show();
    window->FormCloseQuery();
    EXPECT_FALSE(view->IsVisible());
    EXPECT_TRUE(view->timer.Enabled());
}

TEST_F(ChatWindowTest, EveryKeyBeginsAFullNewPollInterval) {
    const int starts = view->timer.starts;
    window->edMensajeKeyPress('h');
    window->edMensajeKeyPress('\b');
    EXPECT_EQ(view->timer.starts, starts + 2);
    EXPECT_TRUE(view->timer.Enabled());
}

TEST_F(ChatWindowTest, PollsWithoutVisibilityOrFocusSendNothing) {
    // No reply is queued: a request would fail.
    window->Timer1Timer();  // hidden
    view->Show();
    view->LoseFocus();
    window->Timer1Timer();  // focus elsewhere
    EXPECT_NO_THROW(window->Timer1Timer());
    view->message = " \t ";
    window->edMensajeKeyPress('\r');  // only blanks: nothing sent, line emptied
    EXPECT_EQ(view->messageHistory, (std::vector<std::string>{"", ""}));
}

TEST(TrimMessageTest, RemovesCodesUpTo32AtBothEndsOnly) {
    EXPECT_EQ(TrimMessage("  hola  "), "hola");
    EXPECT_EQ(TrimMessage("\x01\t\r\nhola que\x1F "), "hola que");
    EXPECT_EQ(TrimMessage("   "), "");
    EXPECT_EQ(TrimMessage("\xA0x\xA0"), "\xA0x\xA0");  // the no-break space stays
}

TEST_F(ChatWindowTest, polls_show_the_transcript_only_when_it_changed) {
    ShowFocused();
    requests.replies = {"Ana: hola<br>Ana: <b>&iquest;hay alguien?</b>",
                        "Ana: hola\nAna: \xBFhay alguien?", "ERROR. sesion"};
    view->timer.Fire();
    EXPECT_EQ(view->transcript, "Ana: hola\r\nAna: \xBFhay alguien?");
    const int replacements = view->transcriptReplacements;
    view->timer.Fire();
    EXPECT_EQ(view->transcriptReplacements, replacements) << "same text: area left alone";
    view->transcriptFocus = true;
    view->messageFocus = false;
    view->timer.Fire();
    EXPECT_EQ(view->errors, std::vector<std::string>{"ERROR. sesion"});
    EXPECT_EQ(view->transcript, "Ana: hola\r\nAna: \xBFhay alguien?");
    EXPECT_EQ(requests.calls, (std::vector<std::string>(3, "getchat 5")));
}

TEST_F(ChatWindowTest, send_trims_encodes_shows_the_reply_and_empties_the_line) {
    struct Row {
        const char* proves;
        std::string typed;
        std::string reply;
        std::string sentMessage;
        std::vector<std::string> lineHistory;
        std::string transcript;
        std::string notSent;  // what the status line was told was left out
    };
    const Row rows[] = {
        {"trimmed text written back and sent encoded",
         "  hola  ",
         "Yo: hola",
         "hola",
         {"hola", ""},
         "Yo: hola",
         ""},
        {"a line of dropped characters is sent empty, and says so",
         "';",
         "Yo: ",
         "",
         {"';", ""},
         "Yo: ",
         "';"},
        {"accented letters, signs and the euro sign are sent escaped",
         "\xA1s\xED!, \x80 \xAB\xBB",
         "Yo: ",
         "%A1s%ED%21%2C%20%80%20%AB%BB",
         {"\xA1s\xED!, \x80 \xAB\xBB", ""},
         "Yo: ",
         ""},
        {"an ERROR reply still empties the line",
         "a&b=c",
         "ERROR x",
         "a%26b%3Dc",
         {"a&b=c", ""},
         "Yo: ",
         ""},
    };
    ShowFocused();
    for (const Row& row : rows) {
        requests.replies = {row.reply};
        view->message = row.typed;
        view->messageHistory.clear();
        view->notSent.clear();
        window->edMensajeKeyPress('\r');
        EXPECT_EQ(view->notSent, std::vector<std::string>{row.notSent}) << row.proves;
        EXPECT_EQ(requests.calls.back(), "send 5 " + row.sentMessage) << row.proves;
        EXPECT_EQ(view->messageHistory, row.lineHistory) << row.proves;
        EXPECT_EQ(view->transcript, row.transcript) << row.proves;
    }
    EXPECT_EQ(view->errors, std::vector<std::string>{"ERROR x"});

    requests.replies = {"!Connection Closed Gracefully."};
    view->message = " hola ";
    EXPECT_THROW(window->sbEnviarClick(), std::runtime_error);
    EXPECT_EQ(view->message, "hola") << "a failed send keeps the trimmed line";
}

TEST_F(ChatWindowTest, a_line_the_service_did_not_store_stays_and_the_status_says_why) {
    struct Row {
        const char* proves;
        std::string reply;
        std::string status;
    };
    const Row rows[] = {
        {"another console's conversation: the notice, without its author",
         "<b>Tertulia</b>: Esta conversaci&oacute;n la atiende otra consola.",
         "Esta conversaci\xF3n la atiende otra consola."},
        {"a closed one: the notice is the transcript's last line",
         "<b>Ana</b>: hola<br><b>Tertulia</b>: La conversaci&oacute;n ha terminado: adi&oacute;s.",
         "La conversaci\xF3n ha terminado: adi\xF3s."},
        {"a limit: the error reply, also shown in the box",
         "ERROR: La conversaci\xF3n 5 est\xE1 llena.",
         "ERROR: La conversaci\xF3n 5 est\xE1 llena."},
        {"a reply with nothing to quote", "", "La l\xEDnea no se ha guardado."},
    };
    ShowFocused();
    for (const Row& row : rows) {
        requests.replies = {row.reply};
        requests.nextLineNotStored = true;
        view->message = " buenas ";
        window->edMensajeKeyPress('\r');
        EXPECT_EQ(view->message, "buenas") << row.proves;
        EXPECT_EQ(view->status, row.status) << row.proves;
    }
    EXPECT_EQ(view->errors, std::vector<std::string>{"ERROR: La conversaci\xF3n 5 est\xE1 llena."});

    requests.replies = {"<b>Operador</b>: buenas"};
    window->sbEnviarClick();
    EXPECT_EQ(view->message, "") << "stored: the line empties";
    EXPECT_EQ(view->status, "") << "and the reason goes";
}

TEST_F(ChatWindowTest, close_and_delete_saves_then_closes_and_tells_the_console) {
    const testing::TemporaryDirectory directory;
    const std::string file = directory.path() + "/copia.txt";
    view->transcript = "Ana: hola\r\nYo: adios";
    view->confirmAnswer = true;
    requests.saveDialog.answer = file;
    requests.replies = {"OK cerrada"};
    window->sbCerraryBorrarClick();
    EXPECT_EQ(testing::ReadWholeFile(file), "Ana: hola\r\nYo: adios");
    EXPECT_EQ(requests.calls, (std::vector<std::string>{"dropclt 5", "closed"}));
    EXPECT_EQ(log, testing::EventLog{
                       "chat confirm Desea Guardar una Copia de la Conversacion en un Archivo?"});
}

TEST_F(ChatWindowTest, close_and_delete_without_saving_or_with_a_refusal) {
    struct Row {
        const char* proves;
        bool confirm;
        std::optional<std::string> chosen;
        std::string reply;
        bool closed;
    };
    const Row rows[] = {
        {"lower-case ok is a refusal", false, std::nullopt, "ok", false},
        {"ERROR is shown and nothing changes", true, std::nullopt, "ERROR: no", false},
        {"a cancelled save dialog still closes", true, std::nullopt, "OK", true},
    };
    for (const Row& row : rows) {
        const int dialogs = requests.saveDialog.runs;
        view->confirmAnswer = row.confirm;
        requests.saveDialog.answer = row.chosen;
        requests.replies = {row.reply};
        requests.calls.clear();
        window->sbCerraryBorrarClick();
        EXPECT_EQ(requests.saveDialog.runs, dialogs + (row.confirm ? 1 : 0)) << row.proves;
        EXPECT_EQ(requests.calls.front(), "dropclt 5") << row.proves;
        EXPECT_EQ(requests.calls.back() == "closed", row.closed) << row.proves;
        if (!row.closed) {
            EXPECT_EQ(view->errors.back(), row.reply) << row.proves;
        }
    }
}

// "Pasar" hands the conversation on after the operator's OK: no copy offered, no close request.
TEST_F(ChatWindowTest, pasar_asks_then_hands_on_or_shows_the_refusal) {
    struct Row {
        const char* proves;
        bool confirm;
        std::string reply;
        std::vector<std::string> calls;
        std::vector<std::string> errors;
    };
    const Row rows[] = {
        {"cancelled: nothing asked of the service", false, "", {}, {}},
        {"handed on: the window goes", true, "OK", {"ceder 5", "closed"}, {}},
        {"no other console: the reply in the box, the window stays",
         true,
         "ERROR: No hay otra consola conectada.",
         {"ceder 5"},
         {"ERROR: No hay otra consola conectada."}},
    };
    ShowFocused();
    for (const Row& row : rows) {
        view->visible = true;
        view->confirmAnswer = row.confirm;
        view->errors.clear();
        requests.calls.clear();
        requests.replies = {row.reply};
        log.clear();
        window->sbPasarClick();
        EXPECT_EQ(log.front(), "chat confirm \xBFPasar esta conversaci\xF3n a otra consola?")
            << row.proves;
        EXPECT_EQ(requests.calls, row.calls) << row.proves;
        EXPECT_EQ(view->errors, row.errors) << row.proves;
        EXPECT_EQ(view->IsVisible(), row.calls.size() != 2) << row.proves;
    }
    EXPECT_EQ(requests.saveDialog.runs, 0);
}

// The news that the visitor types lasts 5 s from the last event, or until the line arrives.
TEST_F(ChatWindowTest,
       the_visitors_typing_shows_in_the_status_line_until_it_lapses_or_the_line_comes) {
    ShowFocused();
    EXPECT_EQ(typingTimer->interval, 5000);
    window->VisitorTyping("Ana");
    EXPECT_EQ(view->status, "Ana est\xE1 escribiendo\x85");
    EXPECT_TRUE(typingTimer->Enabled());
    const int starts = typingTimer->starts;
    window->VisitorTyping("Ana");
    EXPECT_EQ(typingTimer->starts, starts + 1) << "renewed: a full 5 s again";
    typingTimer->Fire();
    EXPECT_EQ(view->status, "");
    EXPECT_FALSE(typingTimer->Enabled());
    EXPECT_EQ(requests.calls, std::vector<std::string>{"typing ended"});

    requests.calls.clear();
    view->transcript = "Ana: hola";
    window->VisitorTyping("Ana");
    requests.replies = {"Ana: hola", "Ana: hola<br>Ana: sigo"};
    view->timer.Fire();
    EXPECT_TRUE(window->ShowsVisitorTyping()) << "an unchanged transcript leaves it";
    view->timer.Fire();
    EXPECT_FALSE(window->ShowsVisitorTyping()) << "the line has come";
    EXPECT_EQ(view->status, "");
    EXPECT_FALSE(typingTimer->Enabled());
    EXPECT_EQ(requests.calls, (std::vector<std::string>{"getchat 5", "getchat 5", "typing ended"}));
}

// What the operator types is news for the visitor; Enter sends the line instead.
TEST_F(ChatWindowTest, typing_in_the_message_line_is_told_to_the_console_enter_is_not) {
    ShowFocused();
    window->edMensajeKeyPress('h');
    window->edMensajeKeyPress('\b');
    view->message = "";
    window->edMensajeKeyPress('\r');
    EXPECT_EQ(requests.calls, (std::vector<std::string>{"escribiendo 5", "escribiendo 5"}));
}

TEST_F(ChatWindowTest, a_transcript_file_that_cannot_be_written_stops_before_the_close_request) {
    view->confirmAnswer = true;
    requests.saveDialog.answer = "/nonexistent/dir/copia.txt";
    EXPECT_THROW(window->sbCerraryBorrarClick(), std::runtime_error);
    EXPECT_TRUE(requests.calls.empty());
}

TEST_F(ChatWindowTest, a_refresh_fetches_without_the_focus_and_never_opens_a_box) {
    view->visible = true;
    requests.replies = {"Ana: hola", "ERROR. sesion", "!Socket Error # 10061"};
    window->Refresh();
    EXPECT_EQ(view->transcript, "Ana: hola");
    window->Refresh();
    window->Refresh();
    EXPECT_EQ(view->transcript, "Ana: hola");
    EXPECT_TRUE(view->errors.empty());
    view->visible = false;
    window->Refresh();
    EXPECT_EQ(requests.calls, (std::vector<std::string>(3, "getchat 5"))) << "hidden: nothing";
}

TEST_F(ChatWindowTest, the_focus_coming_in_fetches_the_transcript_only_of_a_waiting_conversation) {
    ShowFocused();
    window->FormActivate();
    EXPECT_EQ(requests.calls, std::vector<std::string>{"activated"});
    requests.waiting = true;
    requests.replies = {"Ana: hola"};
    window->FormActivate();
    EXPECT_EQ(requests.calls.back(), "getchat 5");
    EXPECT_EQ(view->transcript, "Ana: hola");
}

}  // namespace
}  // namespace tertulia
