// The service's event streams over real sockets: what a visitor's page and an operator's console
// hear while they hold one, on SQLite and on one PostgreSQL database shared by two services.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "fresh_database.h"
#include "protocol/operator_stream_address.h"
#include "running_service.h"
#include "service/charset.h"
#include "service/event_streams.h"
#include "service/reply_stream.h"
#include "service/stream_connections.h"
#include "tests/support/service_process.h"
#include "tests/support/table_rows.h"
#include "tests/support/whole_file.h"

namespace tertulia::testing {
namespace {

using namespace std::chrono_literals;

// One stream held on a raw connection: its head, then its body taken out of its chunks.
class HeldStream {
  public:
    HeldStream(int port, const std::string& target, const std::string& lastEventId = "",
               const std::string& version = "HTTP/1.1", const std::string& method = "GET") {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) throw std::runtime_error("no socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("cannot connect");
        }
        std::string head = method + " " + target + " " + version + "\r\nHost: 127.0.0.1\r\n";
        if (!lastEventId.empty()) head += "Last-Event-ID: " + lastEventId + "\r\n";
        head += "\r\n";
        ::send(fd_, head.data(), head.size(), MSG_NOSIGNAL);
    }
    ~HeldStream() { ::close(fd_); }
    HeldStream(const HeldStream&) = delete;
    HeldStream& operator=(const HeldStream&) = delete;

    // The body so far once it holds `part`, or all that came within the limit.
    std::string Until(const std::string& part, std::chrono::seconds limit = 10s) {
        Read([&] { return body_.find(part) != std::string::npos; }, limit);
        return body_;
    }
    // Whether the reply ends (its last chunk, or the connection closed) within the limit.
    bool Ends(std::chrono::seconds limit = 10s) {
        Read([&] { return ended_; }, limit);
        return ended_;
    }
    // The reply's head, once it came within the limit.
    const std::string& Head(std::chrono::seconds limit = 10s) {
        Read([&] { return !head_.empty(); }, limit);
        return head_;
    }
    const std::string& head() const { return head_; }
    // After the reply's end, the whole reply to another request on the same connection.
    std::string Next(const std::string& target) {
        const std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
        std::string reply;
        char buffer[8192];
        for (pollfd ready{fd_, POLLIN, 0}; ::poll(&ready, 1, 10000) > 0;) {
            const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
            if (count <= 0) break;
            reply.append(buffer, static_cast<std::size_t>(count));
        }
        return reply;
    }

  private:
    template <typename Done>
    void Read(Done done, std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done() && !ended_ && std::chrono::steady_clock::now() < deadline) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) continue;
            char buffer[8192];
            const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
            if (count <= 0) {
                ended_ = true;
                break;
            }
            raw_.append(buffer, static_cast<std::size_t>(count));
            Parse();
        }
    }

    void Parse() {
        if (head_.empty()) {
            const std::size_t end = raw_.find("\r\n\r\n");
            if (end == std::string::npos) return;
            head_ = raw_.substr(0, end + 4);
            raw_.erase(0, end + 4);
            if (head_.find("chunked") == std::string::npos) {
                chunked_ = false;
            }
        }
        if (!chunked_) {
            body_ += raw_;
            raw_.clear();
            return;
        }
        for (;;) {
            const std::size_t line = raw_.find("\r\n");
            if (line == std::string::npos) return;
            const std::size_t size = std::stoul(raw_.substr(0, line), nullptr, 16);
            if (raw_.size() < line + 2 + size + 2) return;
            if (size == 0) ended_ = true;
            body_ += raw_.substr(line + 2, size);
            raw_.erase(0, line + 2 + size + 2);
        }
    }

    int fd_ = -1;
    std::string raw_;
    std::string head_;
    std::string body_;
    bool chunked_ = true;
    bool ended_ = false;
};

std::string Visitors(const VisitorConversation& conversation) {
    return "/api/conversaciones/" + conversation.id + "/eventos?token=" + conversation.token;
}

std::string Line(int id, const std::string& author, const std::string& text) {
    return "id: " + std::to_string(id) + "\nevent: mensaje\ndata: {\"autor\":\"" + author +
           "\",\"texto\":\"" + text + "\"}\n\n";
}

std::string Operator(const std::string& session, const std::string& action) {
    return "/tertulia.php?accion=" + action + "&idempresa=demo&idsesion=" + session;
}

TEST(EventStreams, a_visitor_hears_every_line_and_the_close_without_asking) {
    ServiceProcess service;
    const auto conversation = OpenConversation(service.Port(), "Ana");
    const std::string session = service.Login();
    const std::string chat = Operator(session, "getchat") + "&idsesionclt=" + conversation.id;
    ASSERT_TRUE(VisitorWrites(service.Port(), conversation, "uno"));
    service.Body(chat + "&mensaje=dos");

    HeldStream all(service.Port(), Visitors(conversation));
    EXPECT_NE(all.Until(Line(2, "operador", "dos")).find(Line(1, "visitante", "uno")),
              std::string::npos);
    EXPECT_NE(all.head().find("Content-Type: text/event-stream; charset=utf-8"), std::string::npos)
        << all.head();
    EXPECT_NE(all.head().find("X-Accel-Buffering: no"), std::string::npos);

    HeldStream resumed(service.Port(), Visitors(conversation), "1");
    const std::string after = resumed.Until(Line(2, "operador", "dos"));
    EXPECT_EQ(after.find("id: 1\n"), std::string::npos) << after;

    // A HEAD request gets the head alone, and its connection goes on to the next request.
    HeldStream head(service.Port(), Visitors(conversation), "", "HTTP/1.1", "HEAD");
    EXPECT_NE(head.Head().find("Transfer-Encoding: chunked\r\n"), std::string::npos);
    EXPECT_EQ(head.Next("/salud").find("HTTP/1.1 200 OK\r\n"), 0u);

    // An HTTP/1.0 client gets the body as it is, ended by the connection's close.
    HeldStream plain(service.Port(), Visitors(conversation), "2", "HTTP/1.0");
    EXPECT_NE(plain.Head().find("Connection: close\r\n"), std::string::npos) << plain.head();
    EXPECT_EQ(plain.head().find("chunked"), std::string::npos) << plain.head();

    service.Body(chat + "&mensaje=tres");
    EXPECT_NE(all.Until(Line(3, "operador", "tres")).find(Line(3, "operador", "tres")),
              std::string::npos);
    service.Body(Operator(session, "dropclt") + "&idsesionclt=" + conversation.id);
    EXPECT_NE(resumed.Until("event: cerrada\ndata: {}\n\n").find("event: cerrada"),
              std::string::npos);
    EXPECT_TRUE(resumed.Ends());
    // A stream that ended whole leaves its connection to the next request.
    EXPECT_EQ(resumed.Next("/salud").find("HTTP/1.1 200 OK\r\n"), 0u);
    const std::string plainBody = plain.Until("event: cerrada\ndata: {}\n\n");
    EXPECT_NE(plainBody.find(Line(3, "operador", "tres")), std::string::npos) << plainBody;
    EXPECT_NE(plainBody.find("event: cerrada"), std::string::npos) << plainBody;
    EXPECT_TRUE(plain.Ends());

    const PostReply wrong = GetPath(service.Port(), Visitors({conversation.id, "0000"}));
    EXPECT_EQ(wrong.status, 404);
    EXPECT_EQ(
        wrong.body,
        GetPath(service.Port(), "/api/conversaciones/" + conversation.id + "?token=0000").body);
}

TEST(EventStreams, an_operator_hears_openings_lines_and_closes_of_the_company) {
    ServiceProcess service;
    const std::string session = service.Login();
    HeldStream news(service.Port(), Operator(session, "eventos"));
    EXPECT_NE(news.Until(": \n\n").find(": \n\n"), std::string::npos);
    EXPECT_NE(news.head().find("charset=windows-1252"), std::string::npos) << news.head();
    const auto conversation = OpenConversation(service.Port(), "Ana");
    const std::string event = "event: noticias\ndata: " + conversation.id + ":";
    EXPECT_NE(news.Until(event + "0\n\n").find(event + "0\n\n"), std::string::npos);
    ASSERT_TRUE(VisitorWrites(service.Port(), conversation, "hola"));
    EXPECT_NE(news.Until(event + "1\n\n").find(event + "1\n\n"), std::string::npos);
    const std::string chat = Operator(session, "getchat") + "&idsesionclt=" + conversation.id;
    service.Body(chat + "&mensaje=buenas");
    service.Body(Operator(session, "dropclt") + "&idsesionclt=" + conversation.id);
    // The operator's line and the close: two more events, the visitor's count unchanged, and the
    // close's saying so in a field that an older console skips.
    const std::string three = event + "1\n\n" + event + "1\n\n" + event + "1\nestado: cerrada\n\n";
    EXPECT_NE(news.Until(three).find(three), std::string::npos) << news.Until(three, 0s);

    // The console's own address for it.
    HeldStream replacing(service.Port(), OperatorStreamUrl("", "demo", session));
    EXPECT_TRUE(news.Ends());
    EXPECT_FALSE(replacing.Ends(1s));
}

// Two consoles of one company, each holding its stream, and Ana's conversation answered by A.
struct TwoConsoles {
    ServiceProcess service;
    std::string a = service.Login();
    std::string b = service.Login();
    HeldStream aNews{service.Port(), Operator(a, "eventos")};
    HeldStream bNews{service.Port(), Operator(b, "eventos")};
    VisitorConversation ana;

    TwoConsoles() {
        EXPECT_NE(bNews.Until(": \n\n").find(": \n\n"), std::string::npos);
        ana = OpenConversation(service.Port(), "Ana");
        service.Body(Operator(a, "getchat") + "&idsesionclt=" + ana.id);
    }

    // What B's stream was told up to the next opening, which comes after anything before it.
    std::string ToldToB() {
        const auto bea = OpenConversation(service.Port(), "Bea");
        const std::string opened = "event: noticias\ndata: " + bea.id + ":0\n\n";
        std::string told = bNews.Until(opened);
        EXPECT_NE(told.find(opened), std::string::npos);
        return told;
    }
};

TEST(EventStreams, an_operator_hears_nothing_of_a_conversation_another_console_answers) {
    TwoConsoles consoles;
    const auto& ana = consoles.ana;
    ASSERT_TRUE(VisitorWrites(consoles.service.Port(), ana, "hola"));
    const std::string heard = "event: noticias\ndata: " + ana.id + ":1\n\n";
    EXPECT_NE(consoles.aNews.Until(heard).find(heard), std::string::npos);
    const std::string told = consoles.ToldToB();
    EXPECT_EQ(told.find(heard), std::string::npos) << told;
}

// Typing is passed on at once and never stored: the visitor's to the console that answers the
// conversation alone, the owner's to the visitor.
TEST(EventStreams, typing_reaches_the_owner_and_the_visitor) {
    TwoConsoles consoles;
    auto& [service, a, b, aNews, bNews, ana] = consoles;
    HeldStream page(service.Port(), Visitors(ana));
    EXPECT_NE(page.Until(": \n\n").find(": \n\n"), std::string::npos);

    const auto typing = LoopbackClient(service.Port())
                            ->Post("/api/conversaciones/" + ana.id + "/escribiendo",
                                   "token=" + ana.token, "application/x-www-form-urlencoded");
    ASSERT_TRUE(typing);
    EXPECT_EQ(typing->status, 200);
    EXPECT_EQ(typing->body, "{\"ok\":true}");
    const std::string heard = "event: escribiendo\ndata: " + ana.id + "\n\n";
    EXPECT_NE(aNews.Until(heard).find(heard), std::string::npos);

    EXPECT_EQ(service.Body(Operator(a, "escribiendo") + "&idsesionclt=" + ana.id), "OK");
    const std::string shown = "event: escribiendo\ndata: {}\n\n";
    EXPECT_NE(page.Until(shown).find(shown), std::string::npos);

    const std::string told = consoles.ToldToB();
    EXPECT_EQ(told.find("escribiendo"), std::string::npos) << told;
    EXPECT_EQ(service.Body("/api/conversaciones/" + ana.id + "?token=" + ana.token),
              "{\"abierta\":true,\"mensajes\":[]}");
}

TEST(EventStreams, a_console_that_logs_out_hands_its_conversations_to_the_others_at_once) {
    ServiceProcess service;
    const std::string a = service.Login();
    const std::string b = service.Login();
    const auto ana = OpenConversation(service.Port(), "Ana");
    service.Body(Operator(a, "getchat") + "&idsesionclt=" + ana.id);
    HeldStream bNews(service.Port(), Operator(b, "eventos"));
    EXPECT_NE(bNews.Until(": \n\n").find(": \n\n"), std::string::npos);
    EXPECT_EQ(service.Body(Operator(a, "do_logout")), "OK");
    const std::string handed = "event: noticias\ndata: " + ana.id + ":0\n\n";
    EXPECT_NE(bNews.Until(handed, 2s).find(handed), std::string::npos) << bNews.Until(handed, 0s);
}

TEST(EventStreams, a_conversation_handed_on_reaches_the_other_consoles_at_once) {
    TwoConsoles consoles;
    EXPECT_EQ(
        consoles.service.Body(Operator(consoles.a, "ceder") + "&idsesionclt=" + consoles.ana.id),
        "OK");
    const std::string handed = "event: noticias\ndata: " + consoles.ana.id + ":0\n\n";
    EXPECT_NE(consoles.bNews.Until(handed, 2s).find(handed), std::string::npos);
}

// The command runs in a process of its own: the service hears of it through the database.
TEST(EventStreams, a_change_of_the_ready_answers_reaches_the_companys_consoles) {
    ServiceProcess service;
    const std::string session = service.Login();
    HeldStream news(service.Port(), Operator(session, "eventos"));
    EXPECT_NE(news.Until(": \n\n").find(": \n\n"), std::string::npos);
    const std::string database = service.Directory() + "/service.db";
    ASSERT_EQ(RunService({"company-reply", "demo", "add", "hola", "--db", database}, "Hola"), 0);
    const std::string changed = "event: respuestas\ndata: \n\n";
    EXPECT_NE(news.Until(changed, 3s).find(changed), std::string::npos) << news.Until(changed, 0s);
}

TEST(EventStreams, a_session_unknown_or_lapsed_gets_the_error_of_every_action) {
    RunningService service;
    const std::string lapsed = service.Login();
    service.now += Sessions::kSessionLifetime + 120;
    struct Row {
        const char* name;
        std::string session;
    };
    const Row rows[] = {{"unknown", "0123456789abcdef0123456789abcdef"}, {"lapsed", lapsed}};
    ForEachRow(rows, [&](const Row& row) {
        EXPECT_EQ(
            service.Body(Operator(row.session, "eventos")),
            Windows1252FromUtf8("ERROR. La sesión no existe o ha caducado; conéctese de nuevo."));
    });
}

// Takes what a stream holds, as its connection would.
std::string Drain(ReplyStream& stream) {
    std::string out;
    char buffer[4096];
    for (;;) {
        const std::ptrdiff_t count = stream.Take(buffer, sizeof buffer, [] {});
        if (count <= 0) return out;
        out.append(buffer, static_cast<std::size_t>(count));
    }
}

TEST(EventStreams, a_reply_stream_holds_little_for_a_client_that_does_not_read) {
    StreamBudget budget(ReplyStream::kMaxPending + 100);
    ReplyStream first(&budget);
    const std::string piece(1000, 'x');
    int drained = 0;
    first.OnDrained([&] { ++drained; });
    ASSERT_TRUE(first.Append(piece));
    EXPECT_EQ(budget.Used(), 1000u);
    EXPECT_EQ(Drain(first), piece);
    EXPECT_EQ(drained, 1) << "told once all was taken";
    EXPECT_EQ(budget.Used(), 0u);

    // Past its own cap a stream is cut, and all it held goes back to the budget.
    bool cut = false;
    first.OnCut([&] { cut = true; });
    while (first.Append(piece)) {
    }
    EXPECT_TRUE(cut);
    EXPECT_EQ(budget.Used(), 0u);
    EXPECT_EQ(first.Pending(), 0u);
    char byte;
    EXPECT_EQ(first.Take(&byte, 1, [] {}), ReplyStream::kCut);

    // The stream whose bytes would pass the budget shared by all is the one cut.
    ReplyStream big(&budget);
    ReplyStream small(&budget);
    ASSERT_TRUE(big.Append(std::string(ReplyStream::kMaxPending, 'b')));
    ASSERT_TRUE(small.Append(std::string(100, 's')));
    EXPECT_FALSE(small.Append("s"));
    EXPECT_TRUE(small.Ended());
    EXPECT_FALSE(big.Ended());
    EXPECT_EQ(budget.Used(), ReplyStream::kMaxPending);

    // Bytes pending and none taken for the stall limit: cut; taking them puts that off.
    const auto now = ReplyStream::Clock::now();
    EXPECT_FALSE(big.CutIfStalled(now + ReplyStream::kStallLimit - 1s));
    Drain(big);
    ReplyStream quiet(&budget);
    EXPECT_FALSE(quiet.CutIfStalled(now + 2 * ReplyStream::kStallLimit)) << "nothing pending";
    ASSERT_TRUE(quiet.Append(": \n\n"));
    EXPECT_FALSE(quiet.CutIfStalled(ReplyStream::Clock::now() + 1s));
    EXPECT_TRUE(quiet.CutIfStalled(ReplyStream::Clock::now() + ReplyStream::kStallLimit + 1s));
    EXPECT_EQ(budget.Used(), 0u);
}

// A line stored while a stream is registered for its conversation's wakes but not yet filled:
// the wake is read after the first fill, never beside it, so the stream starts with its comment
// and holds the line once. To hold the new stream in that gap, an older stream's connection
// sleeps inside its lock, which the count of streams then waits for while holding the lock
// that starting a stream takes next.
// The server's side of a held stream, on a loopback socket with a small send buffer: more than
// the sockets hold is written as the client reads; the client then hears the end, or goes.
TEST(EventStreams, a_stream_connection_writes_what_a_slow_client_takes_then_ends_or_hears_it_go) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    StreamConnections connections(1);
    const auto hold = [&](auto& client, std::promise<std::size_t>& finished,
                          std::promise<int>& reused) {
        client = std::make_unique<HeldStream>(ntohs(address.sin_port), "/");
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        const int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        auto stream = std::make_shared<ReplyStream>();
        connections.Adopt({fd, stream, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
                           true, false, [&](int socket) { reused.set_value(socket); },
                           [&](std::size_t sent) { finished.set_value(sent); }});
        return stream;
    };
    for (const bool hangUp : {false, true}) {
        std::unique_ptr<HeldStream> client;
        std::promise<std::size_t> finished;
        std::promise<int> reused;
        const std::shared_ptr<ReplyStream> stream = hold(client, finished, reused);
        std::string expected;
        for (int i = 0; i < 240; ++i) {
            const std::string piece = std::to_string(i) + std::string(1000, 'x') + "\n";
            ASSERT_TRUE(stream->Append(piece));
            expected += piece;
        }
        EXPECT_EQ(client->Until(expected), expected) << hangUp;
        if (hangUp) {
            client.reset();
        } else {
            stream->End();
            EXPECT_TRUE(client->Ends());
            auto socket = reused.get_future();
            ASSERT_EQ(socket.wait_for(2s), std::future_status::ready);
            ::close(socket.get());
        }
        auto sent = finished.get_future();
        ASSERT_EQ(sent.wait_for(2s), std::future_status::ready) << hangUp;
        EXPECT_EQ(sent.get(), expected.size());
        EXPECT_TRUE(stream->Ended());
        EXPECT_FALSE(stream->Append("more"));
    }
    // A stop ends the streams still held.
    std::unique_ptr<HeldStream> client;
    std::promise<std::size_t> finished;
    std::promise<int> reused;
    const std::shared_ptr<ReplyStream> stream = hold(client, finished, reused);
    connections.Stop();
    EXPECT_TRUE(client->Ends(2s));
    EXPECT_TRUE(stream->Ended());
    ::close(listener);
}

TEST(EventStreams, a_wake_between_registration_and_the_first_fill_is_read_after_it) {
    TemporaryDirectory directory;
    const auto storage = Storage::Open(directory.path() + "/service.db", {});
    ASSERT_TRUE(storage->companies.AddCompany("demo", "DIGEST"));
    const NewConversation conversation =
        storage->conversations.OpenConversation("demo", "Ana", 0).conversation;
    const std::string id = std::to_string(conversation.id);
    const std::string query = "token=" + conversation.token;
    EventStreams streams(*storage, 0, 64 << 20);
    const std::shared_ptr<ReplyStream> older = streams.Visitor(id, query, "");
    ASSERT_EQ(Drain(*older), ": \n\n");

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::thread sleeper([&] {
        char buffer[16];
        older->Take(buffer, sizeof buffer, [&] { released.wait(); });
    });
    std::this_thread::sleep_for(100ms);
    std::thread counter([&] { streams.Count(); });
    std::this_thread::sleep_for(100ms);
    std::shared_ptr<ReplyStream> newer;
    std::thread starter([&] { newer = streams.Visitor(id, query, ""); });
    std::this_thread::sleep_for(300ms);
    // The line's news for the operators waits for the count too, and the write for its news.
    std::thread writer([&] {
        EXPECT_EQ(
            storage->conversations.AddVisitorLine(conversation.id, conversation.token, "uno", {}),
            LineResult::Stored);
    });
    // Time enough for the wake, and for a read it might have queued, to run.
    std::this_thread::sleep_for(400ms);
    release.set_value();
    for (std::thread* thread : {&sleeper, &counter, &starter, &writer}) thread->join();
    ASSERT_TRUE(newer);
    std::string body;
    const std::string line = Line(1, "visitante", "uno");
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (body.find(line) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        body += Drain(*newer);
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(200ms);
    body += Drain(*newer);
    EXPECT_EQ(body, ": \n\n" + line);
}

// A Last-Event-ID that is no line of the conversation, on either engine: the whole conversation
// again, as for a new stream, and nothing in the error log.
TEST(EventStreams, a_last_event_id_out_of_range_sends_the_whole_conversation) {
    for (const Backend backend : {Backend::Sqlite, Backend::Postgres}) {
        SCOPED_TRACE(BackendName(backend));
        const FreshDatabase database(backend);
        if (!database.Skip().empty()) {
            std::cout << database.Skip() << "\n";
            continue;
        }
        const std::string errors = database.directory() + "/errors.txt";
        ServiceProcess service({.database = database.location(), .errors = errors});
        const auto conversation = OpenConversation(service.Port(), "Ana");
        ASSERT_TRUE(VisitorWrites(service.Port(), conversation, "uno"));
        ASSERT_TRUE(VisitorWrites(service.Port(), conversation, "dos"));
        struct Row {
            const char* name;
        };
        const Row rows[] = {{"9223372036854775808"},
                            {"18446744073709551616"},
                            {"-1"},
                            {"abc"},
                            {"99999"},
                            {"3"},
                            {"1e3"},
                            {"+1"}};
        ForEachRow(rows, [&](const Row& row) {
            HeldStream stream(service.Port(), Visitors(conversation), row.name);
            const std::string body = stream.Until(Line(2, "visitante", "dos"));
            EXPECT_EQ(body, ": \n\n" + Line(1, "visitante", "uno") + Line(2, "visitante", "dos"));
        });
        HeldStream resumed(service.Port(), Visitors(conversation), "2");
        ASSERT_TRUE(VisitorWrites(service.Port(), conversation, "tres"));
        EXPECT_EQ(resumed.Until(Line(3, "visitante", "tres")),
                  ": \n\n" + Line(3, "visitante", "tres"))
            << "the last line's id still resumes after it";
        const std::string log = ReadWholeFile(errors);
        EXPECT_EQ(Occurrences(log, "<3>"), 0u) << log;
    }
}

// The 65th stream of one address gets 429 as text, which a browser's EventSource gives up on;
// a stream whose client closes frees its place within a second or two.
TEST(EventStreams, streams_beyond_an_address_limit_are_refused_and_a_closed_one_frees_its_place) {
    ServiceProcess service;
    const auto conversation = OpenConversation(service.Port(), "Ana");
    std::vector<std::unique_ptr<HeldStream>> held;
    for (int i = 0; i < 64; ++i) {
        held.push_back(std::make_unique<HeldStream>(service.Port(), Visitors(conversation)));
        ASSERT_NE(held.back()->Head().find("200 OK"), std::string::npos) << i;
    }
    HeldStream refused(service.Port(), Visitors(conversation));
    const std::string head = refused.Head();
    EXPECT_NE(head.find("HTTP/1.1 429"), std::string::npos) << head;
    EXPECT_NE(head.find("Retry-After: "), std::string::npos) << head;
    EXPECT_NE(head.find("Content-Type: text/plain"), std::string::npos) << head;
    EXPECT_TRUE(refused.Ends());

    held.pop_back();
    const auto closed = std::chrono::steady_clock::now();
    std::string again;
    while (again.find("200 OK") == std::string::npos &&
           std::chrono::steady_clock::now() - closed < 4s) {
        std::this_thread::sleep_for(100ms);
        again = HeldStream(service.Port(), Visitors(conversation)).Head();
    }
    EXPECT_NE(again.find("200 OK"), std::string::npos) << again;
    std::cout << "a closed stream's place came free after "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - closed).count()
              << " s\n";
}

class SharedPostgres : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!database_.Skip().empty()) GTEST_SKIP() << database_.Skip();
    }

    // The pids of the services' listening connections.
    std::vector<std::string> Listeners(PGconn* connection) {
        PGresult* result = PQexec(connection,
                                  "SELECT pid FROM pg_stat_activity "
                                  "WHERE application_name = 'tertulia-eventos' ORDER BY pid");
        std::vector<std::string> pids;
        for (int row = 0; row < PQntuples(result); ++row) {
            pids.emplace_back(PQgetvalue(result, row, 0));
        }
        PQclear(result);
        return pids;
    }

    FreshDatabase database_{Backend::Postgres};
};

TEST_F(SharedPostgres, a_line_through_one_service_reaches_a_stream_held_by_the_other) {
    ServiceProcess writer({.database = database_.location()});
    ServiceProcess holder({.database = database_.location()});
    const auto conversation = OpenConversation(writer.Port(), "Ana");
    HeldStream stream(holder.Port(), Visitors(conversation));
    EXPECT_NE(stream.Until(": \n\n").find(": \n\n"), std::string::npos);
    ASSERT_TRUE(VisitorWrites(writer.Port(), conversation, "uno"));
    EXPECT_NE(stream.Until(Line(1, "visitante", "uno")).find(Line(1, "visitante", "uno")),
              std::string::npos);
    // Typing too, told through one service, reaches the streams held by the other.
    const std::string session = holder.Login();
    HeldStream news(holder.Port(), Operator(session, "eventos"));
    EXPECT_NE(news.Until(": \n\n").find(": \n\n"), std::string::npos);
    EXPECT_EQ(writer.Body(Operator(session, "escribiendo") + "&idsesionclt=" + conversation.id),
              "OK");
    const std::string shown = "event: escribiendo\ndata: {}\n\n";
    EXPECT_NE(stream.Until(shown).find(shown), std::string::npos);
    const auto typing =
        LoopbackClient(writer.Port())
            ->Post("/api/conversaciones/" + conversation.id + "/escribiendo",
                   "token=" + conversation.token, "application/x-www-form-urlencoded");
    ASSERT_TRUE(typing);
    EXPECT_EQ(typing->status, 200);
    const std::string heard = "event: escribiendo\ndata: " + conversation.id + "\n\n";
    EXPECT_NE(news.Until(heard).find(heard), std::string::npos);

    // Its listening connections cut: a line written meanwhile still arrives once they are back.
    const std::unique_ptr<PGconn, decltype(&PQfinish)> admin(
        PQconnectdb(database_.location().c_str()), &PQfinish);
    const std::vector<std::string> before = Listeners(admin.get());
    ASSERT_EQ(before.size(), 2u);
    for (const std::string& pid : before) {
        PQclear(PQexec(admin.get(), ("SELECT pg_terminate_backend(" + pid + ")").c_str()));
    }
    const auto gone = [&] {
        for (const std::string& pid : Listeners(admin.get())) {
            if (std::find(before.begin(), before.end(), pid) != before.end()) return false;
        }
        return true;
    };
    while (!gone()) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(VisitorWrites(writer.Port(), conversation, "dos"));
    EXPECT_NE(stream.Until(Line(2, "visitante", "dos")).find(Line(2, "visitante", "dos")),
              std::string::npos);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (Listeners(admin.get()).size() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(Listeners(admin.get()).size(), 2u) << "both services listen again";
}

// A command on the database reaches the streams of every service through its notification.
TEST_F(SharedPostgres, a_change_of_the_ready_answers_by_command_reaches_every_service) {
    ServiceProcess service({.database = database_.location()});
    const std::string session = service.Login();
    HeldStream news(service.Port(), Operator(session, "eventos"));
    EXPECT_NE(news.Until(": \n\n").find(": \n\n"), std::string::npos);
    ASSERT_EQ(
        RunService({"company-reply", "demo", "add", "hola", "--db", database_.location()}, "Hola"),
        0);
    const std::string changed = "event: respuestas\ndata: \n\n";
    EXPECT_NE(news.Until(changed, 3s).find(changed), std::string::npos);
    EXPECT_EQ(service.Body(Operator(session, "respuestas")), "hola|Hola\n");
}

}  // namespace
}  // namespace tertulia::testing
