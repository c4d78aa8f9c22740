#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/session/console_harness.h"
#include "tests/support/scripted_service.h"
#include "tests/support/table_rows.h"

namespace tertulia {
namespace {

using testing::ScriptedService;

const std::string kNews = "/tertulia.php?accion=get_news&idempresa=acme&idsesion=s1";
const std::string kChat5 = "/tertulia.php?accion=getchat&idempresa=acme&idsesion=s1&idsesionclt=5";

// An event stream that gives `events` and ends.
std::string Stream(const std::string& events) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n" +
           events;
}

// What a service without ready answers says of them, and of the other consoles.
const std::string kUnknownAction = "ERROR: Acci\xF3n desconocida.";

// A console with its event stream on, logged in to "acme" as "s1" with conversation 5 of Ana
// open; its stream answers `stream`, its first news poll `news`; the service knows no ready
// answers unless `answers` are given, and then says that `others` other consoles are there.
struct StreamingConsole {
    explicit StreamingConsole(const std::string& stream, const std::string& news = "OK,5=Ana|",
                              const std::string& answers = kUnknownAction,
                              const std::string& others = "") {
        harness.settings["Servicio/Eventos"] = "1";
        harness.console.FormCreate();
        view.companyCode = "acme";
        view.password = "secreta";
        server.Reply("OK=s1");
        server.ReplyRaw(stream);
        server.Reply(answers);
        server.Reply(news);
        if (answers != kUnknownAction) server.Reply(others);
        harness.console.btConectarClick();
    }
    // The requests other than the event stream's, whose target the server may record only after
    // later ones: the stream's request is sent without waiting for its reply.
    std::vector<std::string> Polls() const {
        std::vector<std::string> polls = server.Targets();
        std::erase_if(polls, [](const std::string& target) {
            return target.find("accion=eventos") != std::string::npos;
        });
        return polls;
    }
    long Count(const std::string& target) const {
        const auto targets = server.Targets();
        return std::count(targets.begin(), targets.end(), target);
    }
    // Ana's window takes the focus and, as she waits, fetches her transcript.
    void FocusAna() {
        server.Reply("Ana: hola");
        harness.Chat(0).TakeFocus();
        ASSERT_EQ(Count(kChat5), 1);
    }

    ScriptedService server;
    testing::ConsoleHarness harness{server.Url()};
    testing::RecordingConsoleView& view = harness.view;
};

TEST(EventPollsTest, a_change_polls_the_focused_window_at_once_or_else_fetches_and_the_news) {
    struct Row {
        const char* name;
        bool focused;
        std::vector<std::string> polled;
    };
    const Row rows[] = {{"Ana's window has the focus", true, {kChat5, kNews}},
                        {"the focus is elsewhere", false, {kChat5, kNews}}};
    testing::ForEachRow(rows, [](const Row& row) {
        StreamingConsole test(Stream("event: noticias\ndata: 5:2\n\n"));
        const std::string events = "/tertulia.php?accion=eventos&idempresa=acme&idsesion=s1";
        // Sent without waiting for a reply: the server may record it a moment later.
        for (int wait = 0; wait < 500 && test.Count(events) == 0; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(test.Count(events), 1);
        if (row.focused) test.FocusAna();
        test.harness.tmPausaNoticias.Fire();  // a second after the login's news poll
        const std::size_t before = test.Polls().size();
        ASSERT_TRUE(test.harness.eventWatch.WaitAndFire());
        EXPECT_EQ(test.Polls().size(), before) << "only once the handler has returned";
        test.server.Reply("Ana: hola<br>Ana: sigo");
        // The news: for a window without the focus, and after the stream's end for both.
        test.server.Reply("OK lineas=5:2,5=Ana|");
        test.view.RunPosted();
        const auto targets = test.Polls();
        EXPECT_EQ(
            std::vector<std::string>(targets.begin() + static_cast<long>(before), targets.end()),
            row.polled);
        EXPECT_EQ(test.harness.Chat(0).transcript, "Ana: hola\r\nAna: sigo")
            << "shown at once, with or without the focus";
        EXPECT_EQ(test.harness.tmEventos.interval, OperatorEvents::FirstPause)
            << "the stream ended: opened again a second later";
    });
}

TEST(EventPollsTest, a_burst_of_changes_gives_one_news_poll_a_second_after_the_last) {
    StreamingConsole test(
        Stream("event: noticias\ndata: 7:1\n\n: vivo\n\n"
               "event: noticias\r\ndata: 8:1\r\n\r\nevent: noticias\ndata: 7:2\n\n"));
    ASSERT_TRUE(test.harness.eventWatch.WaitAndFire());
    test.view.RunPosted();
    EXPECT_EQ(test.Count(kNews), 1) << "the login's news poll began less than a second ago";
    test.server.Reply("OK,5=Ana|7=Eva|8=Luis|");
    test.harness.tmPausaNoticias.Fire();
    test.view.RunPosted();
    EXPECT_EQ(test.Count(kNews), 2);
    EXPECT_EQ(test.harness.ListedIds(), (std::vector<std::string>{"5=Ana", "7=Eva", "8=Luis"}));
    test.harness.tmPausaNoticias.Fire();
    test.view.RunPosted();
    EXPECT_EQ(test.Count(kNews), 2) << "nothing left to poll for";
}

TEST(EventPollsTest, a_change_during_another_request_waits_for_its_end) {
    StreamingConsole test(Stream("event: noticias\ndata: 5:2\n\n"));
    test.FocusAna();
    test.view.duringNextRepaint = [&] {
        // The news poll serves messages before its request: the change is read, not yet polled.
        ASSERT_TRUE(test.harness.eventWatch.WaitAndFire());
        test.view.RunPosted();
        EXPECT_EQ(test.Count(kChat5), 1);
        test.server.Reply("OK,5=Ana|");
    };
    test.harness.tmIdle.Fire();
    EXPECT_EQ(test.Count(kChat5), 1);
    test.server.Reply("Ana: hola<br>Ana: sigo");
    test.view.RunPosted();
    EXPECT_EQ(test.server.Targets().back(), kChat5) << "right after the news poll";
}

TEST(EventPollsTest, a_broken_stream_has_a_news_poll_find_out_at_once_whether_the_service_is_gone) {
    struct Row {
        const char* name;
        bool gone;
    };
    const Row rows[] = {{"the service is gone", true}, {"the service is still there", false}};
    testing::ForEachRow(rows, [](const Row& row) {
        StreamingConsole test(Stream(": vivo\n\n"));
        testing::ConsoleHarness& harness = test.harness;
        while (harness.eventWatch.watched != -1) ASSERT_TRUE(harness.eventWatch.WaitAndFire());
        harness.tmPausaNoticias.Fire();  // a second after the login's news poll
        row.gone ? test.server.Drop() : test.server.Reply("OK,5=Ana|");
        test.view.RunPosted();
        EXPECT_EQ(test.Count(kNews), 2);
        EXPECT_EQ(test.view.errors.size(), row.gone ? 1u : 0u);
        EXPECT_EQ(harness.tmReconectar.Enabled(), row.gone);
        EXPECT_EQ(harness.tmReconectar.interval, row.gone ? Reconnection::ProbeInterval : 0);
        EXPECT_EQ(test.view.disconnectedIcon, row.gone);
        EXPECT_EQ(harness.tmEventos.Enabled(), !row.gone)
            << "while the service is away only the probes look for it";
    });
}

TEST(EventPollsTest, a_failing_stream_is_opened_again_ever_later_and_a_refusal_ends_it) {
    StreamingConsole test(Stream(""));
    testing::ConsoleHarness& harness = test.harness;
    std::vector<int> pauses;
    const auto failAgain = [&] {
        ASSERT_TRUE(harness.eventWatch.WaitAndFire());
        pauses.push_back(harness.tmEventos.Enabled() ? harness.tmEventos.interval : 0);
        test.server.Drop();
        harness.tmEventos.Fire();
    };
    for (int attempt = 0; attempt < 8; ++attempt) failAgain();
    EXPECT_EQ(pauses, (std::vector<int>{1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000}));

    harness.now += std::chrono::seconds(61);  // a stream that lived a minute
    pauses.clear();
    failAgain();
    failAgain();
    EXPECT_EQ(pauses, (std::vector<int>{1000, 2000}));

    struct Row {
        const char* name;
        std::string reply;
    };
    const Row refusals[] = {{"an older service", "ERROR: Acci\xF3n desconocida."},
                            {"a lapsed session", "ERROR. La sesion no existe"}};
    testing::ForEachRow(refusals, [&](const Row& row) {
        ASSERT_TRUE(harness.eventWatch.WaitAndFire());  // the stream open now fails
        test.server.Reply(row.reply);
        harness.tmEventos.Fire();
        ASSERT_TRUE(harness.eventWatch.WaitAndFire());
        EXPECT_FALSE(harness.tmEventos.Enabled()) << "not tried again";
        EXPECT_EQ(harness.eventWatch.watched, -1);
        test.server.Reply("OK=s1");
        test.server.Drop();
        test.server.Reply(kUnknownAction);
        test.server.Reply("OK,5=Ana|");
        harness.console.btConectarClick();  // the next login tries again
        ASSERT_NE(harness.eventWatch.watched, -1);
    });
    EXPECT_EQ(test.view.errors, std::vector<std::string>{}) << "the stream never shows a box";
}

// Reads the stream that gives events and ends, to its end; the end may come in a later read.
void ReadToEnd(testing::ConsoleHarness& harness) {
    ASSERT_TRUE(harness.eventWatch.WaitAndFire());
    while (harness.eventWatch.watched != -1) ASSERT_TRUE(harness.eventWatch.WaitAndFire());
}

// Ana's window is shown without the focus; her visitor writes twice within a second, then again.
TEST(EventPollsTest, a_window_without_the_focus_fetches_each_new_line_at_most_once_a_second) {
    StreamingConsole test(Stream("event: noticias\ndata: 5:1\n\n"));
    testing::ConsoleHarness& harness = test.harness;
    harness.tmPausaNoticias.Fire();
    ReadToEnd(harness);
    test.server.Reply("Ana: hola");
    test.server.Reply("OK lineas=5:1,5=Ana|");
    test.view.RunPosted();
    ASSERT_EQ(test.Count(kChat5), 1);

    harness.now += std::chrono::milliseconds(400);
    test.server.ReplyRaw(Stream("event: noticias\ndata: 5:2\n\n"));
    harness.tmEventos.Fire();  // the stream that ended is opened again
    ReadToEnd(harness);
    test.view.RunPosted();
    EXPECT_EQ(test.Count(kChat5), 1) << "within a second of its last fetch";
    ASSERT_TRUE(harness.tmRefrescos.Enabled());
    EXPECT_EQ(harness.tmRefrescos.interval, 600);

    harness.now += std::chrono::milliseconds(600);
    test.server.Reply("Ana: hola<br>Ana: sigo");
    harness.tmRefrescos.Fire();
    test.view.RunPosted();
    EXPECT_EQ(test.Count(kChat5), 2);
    EXPECT_EQ(harness.Chat(0).transcript, "Ana: hola\r\nAna: sigo");
    EXPECT_TRUE(test.view.RowMarked(0)) << "unseen: it waits until focused";
    EXPECT_TRUE(test.view.errors.empty());
}

// The operator reads Ana's new line in her focused window and turns to another before the next
// news poll, which reports the line: she does not wait again. A line written after that fetch
// makes her wait, and her notification shows it.
TEST(EventPollsTest, a_line_seen_in_the_focused_window_does_not_make_it_wait_later) {
    StreamingConsole test(Stream(""), "OK lineas=5:1,5=Ana|");
    testing::ConsoleHarness& harness = test.harness;
    test.FocusAna();
    ASSERT_FALSE(test.view.RowMarked(0));
    harness.tmPausaNoticias.Fire();
    ReadToEnd(harness);  // the first stream ends

    // The stream's end brings a news poll after the window's fetch.
    const auto hear = [&](const std::string& event, const std::string& transcript,
                          const std::string& news) {
        test.server.ReplyRaw(Stream(event));
        harness.tmEventos.Fire();
        ReadToEnd(harness);
        test.server.Reply(transcript);
        test.server.Reply(news);
        test.view.RunPosted();
        harness.now += std::chrono::seconds(2);
    };
    hear("event: noticias\ndata: 5:2\n\n", "Ana: hola<br>Ana: sigo", "OK lineas=5:2,5=Ana|");
    EXPECT_EQ(harness.Chat(0).transcript, "Ana: hola\r\nAna: sigo");
    harness.Chat(0).LoseFocus();
    const long notified = std::count(test.view.signalLog.begin(), test.view.signalLog.end(),
                                     "notify 5 Conversacion con : Ana");
    test.server.Reply("OK lineas=5:2,5=Ana|");
    harness.tmIdle.Fire();
    EXPECT_FALSE(test.view.RowMarked(0));
    EXPECT_EQ(std::count(test.view.signalLog.begin(), test.view.signalLog.end(),
                         "notify 5 Conversacion con : Ana"),
              notified);

    harness.tmPausaNoticias.Fire();
    test.server.ReplyRaw(Stream("event: noticias\ndata: 5:3\n\n"));
    harness.tmEventos.Fire();
    ReadToEnd(harness);
    test.server.Reply("Ana: hola<br>Ana: sigo<br>Operador: dime<br>Ana: una pregunta");
    test.server.Reply("OK lineas=5:3,5=Ana|");
    test.view.RunPosted();
    EXPECT_TRUE(test.view.RowMarked(0));
    EXPECT_EQ(test.view.notificationBodies.at(5), "una pregunta");
}

// Ana's visitor types: her window and her row say so for five seconds, renewed by each event;
// the event of a conversation not held here changes nothing.
TEST(EventPollsTest, the_visitors_typing_shows_in_the_window_and_the_row) {
    StreamingConsole test(Stream("event: escribiendo\ndata: 5\n\nevent: escribiendo\ndata: 9\n\n"));
    testing::ConsoleHarness& harness = test.harness;
    test.view.signalLog.clear();  // her opening's signals
    ReadToEnd(harness);
    testing::RecordingChatView& ana = harness.Chat(0);
    EXPECT_EQ(ana.status, "Ana est\xE1 escribiendo\x85");
    ASSERT_TRUE(ana.typingTimer->Enabled());
    EXPECT_EQ(ana.typingTimer->interval, 5000);
    EXPECT_EQ(test.view.signalLog, testing::EventLog{"typing Ana"});
    ana.typingTimer->Fire();
    EXPECT_EQ(ana.status, "");
    EXPECT_EQ(test.view.signalLog, (testing::EventLog{"typing Ana", "not typing Ana"}));
}

// The operator types in Ana's window: the service hears of it at most every 2 s, only once it has
// answered the event stream, never during another request, and whatever it replies.
TEST(EventPollsTest, the_operators_typing_is_told_at_most_every_two_seconds) {
    StreamingConsole test(Stream(""));
    testing::ConsoleHarness& harness = test.harness;
    const std::string typing =
        "/tertulia.php?accion=escribiendo&idempresa=acme&idsesion=s1&idsesionclt=5";
    ChatHandlers& ana = *harness.Chat(0).handlers;
    ana.edMensajeKeyPress('h');
    EXPECT_EQ(test.Count(typing), 0) << "the stream has not answered yet";
    ReadToEnd(harness);

    test.server.Reply("OK");
    ana.edMensajeKeyPress('o');
    EXPECT_EQ(test.Count(typing), 1);
    harness.now += std::chrono::milliseconds(1999);
    ana.edMensajeKeyPress('l');
    EXPECT_EQ(test.Count(typing), 1) << "within 2 s of the last";
    harness.now += std::chrono::milliseconds(1);
    test.server.Reply("ERROR: La conversaci\xF3n no es suya.");
    ana.edMensajeKeyPress('a');
    EXPECT_EQ(test.Count(typing), 2);

    harness.now += std::chrono::seconds(2);
    test.view.duringNextRepaint = [&] { ana.edMensajeKeyPress(' '); };
    test.server.Reply("OK,5=Ana|");
    harness.tmIdle.Fire();
    EXPECT_EQ(test.Count(typing), 2) << "not during the news poll";
    EXPECT_EQ(test.Count("/tertulia.php?accion=consolas&idempresa=acme&idsesion=s1"), 0)
        << "a service without ready answers is not asked for the other consoles";
    EXPECT_EQ(harness.Chat(0).handOn, HandOnButton::Hidden);
    EXPECT_TRUE(harness.Chat(0).readyAnswers.empty());
    EXPECT_TRUE(test.view.errors.empty());
    EXPECT_TRUE(harness.Chat(0).errors.empty());
}

// A service with ready answers: fetched at login and again on its event; the other consoles
// asked at every news poll, until the service says it does not know the action; "Pasar" hands
// Ana's conversation on and her window goes, without the close request.
TEST(EventPollsTest, ready_answers_other_consoles_and_the_hand_on) {
    const std::string others = "/tertulia.php?accion=consolas&idempresa=acme&idsesion=s1";
    StreamingConsole test(Stream("event: respuestas\ndata: \n\n"), "OK,5=Ana|",
                          "saludo|Hola<br>Buenos d\xED"
                          "as\n",
                          "0");
    testing::ConsoleHarness& harness = test.harness;
    EXPECT_EQ(harness.Chat(0).readyAnswers, (std::vector<ReadyAnswer>{{"saludo",
                                                                       "Hola\nBuenos d\xED"
                                                                       "as"}}));
    EXPECT_EQ(harness.Chat(0).handOn, HandOnButton::NoOtherConsole);

    ReadToEnd(harness);  // the change of the answers, and the stream's end
    test.server.Reply("despedida|Adi\xF3s\n");
    test.view.RunPosted();
    EXPECT_EQ(harness.Chat(0).readyAnswers, (std::vector<ReadyAnswer>{{"despedida", "Adi\xF3s"}}));

    // Each news poll asks again: another console comes, then a service that no longer knows.
    const struct {
        const char* name;
        std::string reply;
        HandOnButton state;
    } polls[] = {{"another console", "1", HandOnButton::Enabled},
                 {"an older service", kUnknownAction, HandOnButton::Hidden}};
    for (const auto& poll : polls) {
        test.server.Reply("OK,5=Ana|");
        test.server.Reply(poll.reply);
        harness.tmIdle.Fire();
        EXPECT_EQ(harness.Chat(0).handOn, poll.state) << poll.name;
    }
    test.server.Reply("OK,5=Ana|");
    harness.tmIdle.Fire();
    EXPECT_EQ(test.Count(others), 3) << "not asked again in the session";

    test.server.Reply("OK");
    harness.Chat(0).confirmAnswer = true;
    harness.Chat(0).handlers->sbPasarClick();
    EXPECT_TRUE(harness.Listed().empty());
    test.view.RunPosted();
    EXPECT_TRUE(harness.view.chats.empty()) << "the window is gone";
    const auto targets = test.server.Targets();
    EXPECT_EQ(targets.back(),
              "/tertulia.php?accion=ceder&idempresa=acme&idsesion=s1&idsesionclt=5");
    EXPECT_EQ(std::count_if(targets.begin(), targets.end(),
                            [](const std::string& target) {
                                return target.find("accion=dropclt") != std::string::npos;
                            }),
              0);
    EXPECT_TRUE(test.view.errors.empty());
}

}  // namespace
}  // namespace tertulia
