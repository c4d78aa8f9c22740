// The service against hostile clients, over real sockets: each row starts its own service with
// the options it needs and attacks it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <thread>

#include "running_service.h"
#include "service/charset.h"
#include "service/visitor_page.h"
#include "tests/support/next_second.h"
#include "tests/support/service_process.h"
#include "tests/support/table_rows.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/whole_file.h"

namespace tertulia::testing {
namespace {

using namespace std::chrono_literals;

// How many whole replies `bytes` holds.
int CompleteReplies(std::string_view bytes) {
    int count = 0;
    for (;;) {
        const std::size_t headEnd = bytes.find("\r\n\r\n");
        if (headEnd == std::string_view::npos) return count;
        const std::string_view head = bytes.substr(0, headEnd);
        std::size_t length = 0;
        if (const std::size_t at = head.find("Content-Length: "); at != std::string_view::npos) {
            length = std::stoul(std::string(head.substr(at + 16, head.find("\r\n", at) - at - 16)));
        }
        if (bytes.size() < headEnd + 4 + length) return count;
        bytes.remove_prefix(headEnd + 4 + length);
        ++count;
    }
}

// A TCP connection to the service from a loopback address of our choosing: IPv4 to
// 127.0.0.1, or IPv6 (any address of a network routed to the loopback) to ::1. A small
// `receiveBuffer` makes a client that takes its reply slowly.
class RawConnection {
  public:
    RawConnection(int port, const char* from = "127.0.0.1", int receiveBuffer = 0) {
        const bool v6 = std::string_view(from).find(':') != std::string_view::npos;
        fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_storage storage{};
        auto* address = reinterpret_cast<sockaddr*>(&storage);
        socklen_t size = sizeof(sockaddr_in);
        if (v6) {
            const int yes = 1;
            setsockopt(fd_, SOL_IPV6, IPV6_FREEBIND, &yes, sizeof yes);
            auto& in6 = *reinterpret_cast<sockaddr_in6*>(&storage);
            in6.sin6_family = AF_INET6;
            inet_pton(AF_INET6, from, &in6.sin6_addr);
            size = sizeof in6;
        } else {
            auto& in4 = *reinterpret_cast<sockaddr_in*>(&storage);
            in4.sin_family = AF_INET;
            inet_pton(AF_INET, from, &in4.sin_addr);
        }
        if (fd_ < 0 || ::bind(fd_, address, size) != 0) {
            throw std::runtime_error("cannot bind to " + std::string(from));
        }
        if (v6) {
            auto& in6 = *reinterpret_cast<sockaddr_in6*>(&storage);
            in6.sin6_port = htons(static_cast<uint16_t>(port));
            in6.sin6_addr = in6addr_loopback;
        } else {
            auto& in4 = *reinterpret_cast<sockaddr_in*>(&storage);
            in4.sin_port = htons(static_cast<uint16_t>(port));
            inet_pton(AF_INET, "127.0.0.1", &in4.sin_addr);
        }
        if (::connect(fd_, address, size) != 0) throw std::runtime_error("cannot connect");
    }
    ~RawConnection() { ::close(fd_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // False once the service no longer takes bytes.
    bool Send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }
    // The next `count` replies (each a head and its Content-Length of body), or what came
    // before the service closed or `limit` passed.
    std::string Replies(int count, std::chrono::seconds limit = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::string out;
        char buffer[65536];
        while (CompleteReplies(out) < count && std::chrono::steady_clock::now() < deadline) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 100) <= 0) continue;
            const ssize_t received = ::recv(fd_, buffer, sizeof buffer, 0);
            if (received <= 0) break;
            out.append(buffer, static_cast<std::size_t>(received));
        }
        return out;
    }
    int fd() const { return fd_; }
    // Whether the service has closed its side, without waiting.
    bool ClosedByService() {
        char byte;
        const ssize_t count = ::recv(fd_, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
        return count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
    // Whether the service closes its side within `limit`.
    bool ClosedWithin(std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!ClosedByService()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }

  private:
    int fd_ = -1;
};

std::string Get(const std::string& target, const std::string& extra = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

std::string Post(const std::string& path, const std::string& form, const std::string& extra = "") {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(form.size()) + "\r\n" + extra + "\r\n" + form;
}

int StatusOf(const std::string& reply) {
    return reply.starts_with("HTTP/1.1 ") ? std::stoi(reply.substr(9, 3)) : 0;
}

std::string BodyOf(const std::string& reply) {
    const std::size_t at = reply.find("\r\n\r\n");
    return at == std::string::npos ? "" : reply.substr(at + 4);
}

// One request on a connection of its own; the whole reply.
std::string Exchange(int port, const std::string& request, const char* from = "127.0.0.1") {
    RawConnection connection(port, from);
    connection.Send(request);
    return connection.Replies(1);
}

struct Hostile {
    const ServiceProcess& service;
    int port() const { return service.Port(); }

    std::string Session() const { return service.Login(); }
    std::string News() const {
        return service.Body("/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + Session());
    }
    // Status and body of opening a conversation named `name` from address `from`.
    std::pair<int, std::string> Open(const std::string& name, const char* from = "127.0.0.1",
                                     const std::string& extra = "") const {
        const std::string reply = Exchange(
            port(), Post("/api/conversaciones", "empresa=demo&nombre=" + name, extra), from);
        return {StatusOf(reply), BodyOf(reply)};
    }
    // The id and token of a new conversation.
    std::pair<std::string, std::string> Opened(const std::string& name) const {
        const auto [status, body] = Open(name);
        if (status != 201) throw std::runtime_error("not opened: " + body);
        const std::size_t tokenAt = body.find("\"token\":\"") + 9;
        return {body.substr(6, body.find(',') - 6), body.substr(tokenAt, 32)};
    }
    int Write(const std::pair<std::string, std::string>& conversation,
              const std::string& text) const {
        return StatusOf(
            Exchange(port(), Post("/api/conversaciones/" + conversation.first + "/mensajes",
                                  "token=" + conversation.second + "&texto=" + text)));
    }
};

struct HostileCase {
    const char* name;
    std::vector<std::string> options;
    std::function<void(const Hostile&)> attack;
};

// The resident memory of a process, in MiB.
double ResidentMiB(int pid) {
    const std::string status = ReadWholeFile("/proc/" + std::to_string(pid) + "/status");
    const std::size_t at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::stod(status.substr(at + 6)) / 1024;
}

// Makes room for a thousand sockets in this process where the system allows it.
bool RoomForSockets(rlim_t wanted) {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return false;
    if (files.rlim_cur >= wanted) return true;
    if (files.rlim_max < wanted) return false;
    files.rlim_cur = wanted;
    return setrlimit(RLIMIT_NOFILE, &files) == 0;
}

void ReadOnlyDatabaseRefusesToStart(const std::string& directory) {
    const std::string database = directory + "/service.db";
    ASSERT_EQ(RunService({"add-company", "acme", "clave-de-acme", "--db", database}), 0);
    // Root writes through file permissions; without its capabilities it cannot.
    std::vector<std::string> prefix;
    if (geteuid() == 0) prefix = {"setpriv", "--bounding-set=-all", "--inh-caps=-all", "--"};
    std::filesystem::permissions(database, std::filesystem::perms::owner_read |
                                               std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
    const std::string errors = directory + "/errors.txt";
    EXPECT_EQ(RunService({"--listen", "127.0.0.1:0", "--db", database}, "", errors, prefix), 1);
    EXPECT_NE(ReadWholeFile(errors).find("no se puede escribir en la base de datos"),
              std::string::npos)
        << ReadWholeFile(errors);
}

TEST(HostileTraffic, the_service_holds_and_refuses_cleanly) {
    const std::string kOpen = "/api/conversaciones";
    const std::vector<HostileCase> rows = {
        {"range_request_gets_no_amplification",
         {},
         [](const Hostile& h) {
             std::string ranges = "Range: bytes=0-";
             for (int i = 0; i < 1999; ++i) ranges += ",0-";
             const std::string reply = Exchange(h.port(), Get("/", ranges + "\r\n"));
             EXPECT_EQ(StatusOf(reply), 200);
             EXPECT_EQ(BodyOf(reply).size(), VisitorPage().size());
             EXPECT_EQ(StatusOf(Exchange(h.port(), Get("/", "Range: bytes=0-9\r\n"))), 200)
                 << "ranges are served on the update download only";
         }},
        {"ranges_on_the_update_download_are_single",
         {"--update-file", "UPDATE", "--update-version", "1.2"},
         [](const Hostile& h) {
             const std::string path = "/gl/descargas/tertulia-1.2";
             const std::string part = Exchange(h.port(), Get(path, "Range: bytes=3-6\r\n"));
             EXPECT_EQ(StatusOf(part), 206);
             EXPECT_EQ(BodyOf(part), "3456");
             EXPECT_NE(part.find("Content-Range: bytes 3-6/10\r\n"), std::string::npos);
             EXPECT_EQ(BodyOf(Exchange(h.port(), Get(path, "Range: bytes=-2\r\n"))), "89");
             const std::string many = Exchange(h.port(), Get(path, "Range: bytes=0-,0-,0-\r\n"));
             EXPECT_EQ(StatusOf(many), 200);
             EXPECT_EQ(BodyOf(many), "0123456789");
             EXPECT_EQ(StatusOf(Exchange(h.port(), Get(path, "Range: bytes=10-\r\n"))), 416);
         }},
        {"header_flood_is_refused_within_the_head_memory",
         {},
         [](const Hostile& h) {
             RawConnection flood(h.port());
             flood.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");
             std::string lines;
             for (int i = 0; i < 100; ++i) lines += "X-Flood: " + std::string(90, 'a') + "\r\n";
             // 2,000,000 lines; the service stops reading after its 16 KiB, so the socket
             // buffers fill and the sending ends long before.
             std::size_t sent = 0;
             for (int i = 0; i < 20000 && !flood.ClosedByService() && flood.Send(lines); ++i) {
                 sent += lines.size();
             }
             EXPECT_LT(sent, 64u << 20) << "the service kept taking header lines";
             EXPECT_NE(h.News(), "") << "and it still serves";
         }},
        {"slow_connections_do_not_hold_a_normal_request",
         // Deadlines long enough that none is cut while a loaded machine opens all of them.
         {"--head-timeout", "300", "--idle-timeout", "300"},
         [](const Hostile& h) {
             if (!RoomForSockets(1200)) GTEST_SKIP() << "no room for 1,000 sockets here";
             // 1,000 clients from 20 addresses that trickle their request heads.
             std::vector<std::unique_ptr<RawConnection>> slow;
             for (int n = 0; n < 1000; ++n) {
                 const std::string from = "127.0.0." + std::to_string(2 + n % 20);
                 slow.push_back(std::make_unique<RawConnection>(h.port(), from.c_str()));
                 slow.back()->Send("GET / HTTP/1.1\r\nHost: x\r\n");
             }
             for (auto& connection : slow) connection->Send("X");
             const std::string reply =
                 Exchange(h.port(), Get("/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1"));
             EXPECT_EQ(BodyOf(reply), "ACTUALIZADA.");
             const auto held = std::count_if(slow.begin(), slow.end(),
                                             [](auto& c) { return !c->ClosedByService(); });
             EXPECT_EQ(held, 1000) << "served while all of them were held";
         }},
        {"a_trickled_head_is_cut_at_its_deadline",
         {"--head-timeout", "1"},
         [](const Hostile& h) {
             RawConnection slow(h.port());
             slow.Send("GET / HTTP/1.1\r\n");
             bool cut = false;
             for (int i = 0; i < 80 && !cut; ++i) {
                 std::this_thread::sleep_for(250ms);
                 cut = !slow.Send("X") || slow.ClosedByService();
             }
             EXPECT_TRUE(cut) << "still open after 20 s of trickling";
         }},
        {"connections_per_address_are_limited",
         {"--max-connections-per-address", "3"},
         [](const Hostile& h) {
             std::vector<std::unique_ptr<RawConnection>> held;
             for (int i = 0; i < 3; ++i)
                 held.push_back(std::make_unique<RawConnection>(h.port(), "127.0.0.9"));
             std::this_thread::sleep_for(200ms);
             RawConnection fourth(h.port(), "127.0.0.9");
             EXPECT_TRUE(fourth.ClosedWithin(20s));
             EXPECT_EQ(fourth.Replies(1), "") << "closed without a reply";
             EXPECT_EQ(StatusOf(Exchange(h.port(), Get("/"), "127.0.0.10")), 200);
         }},
        {"pipelined_requests_are_all_answered_in_order",
         {},
         [](const Hostile& h) {
             const std::string session = h.Session();
             RawConnection connection(h.port());
             connection.Send(
                 Get("/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1") +
                 Get("/tertulia.php?accion=get_news&idempresa=demo&idsesion=" + session) +
                 Get("/gl/chkupdate.php?accion=check&prgid=XX&ver=1&rel=1"));
             const std::string replies = connection.Replies(3);
             const std::size_t first = replies.find("ACTUALIZADA.");
             const std::size_t second = replies.find("OK lineas=,");
             const std::size_t third = replies.find("ERROR: Programa desconocido.");
             EXPECT_NE(third, std::string::npos) << replies;
             EXPECT_LT(first, second);
             EXPECT_LT(second, third);
         }},
        {"conflicting_lengths_are_refused_and_store_nothing",
         {},
         [kOpen](const Hostile& h) {
             const std::string form = "empresa=demo&nombre=Ana";
             const std::string twice = "POST " + kOpen + " HTTP/1.1\r\nHost: x\r\n" +
                                       "Content-Type: application/x-www-form-urlencoded\r\n" +
                                       "Content-Length: 23\r\nContent-Length: 5\r\n\r\n" + form;
             EXPECT_EQ(StatusOf(Exchange(h.port(), twice)), 400);
             const std::string chunked =
                 "POST " + kOpen + " HTTP/1.1\r\nHost: x\r\n" +
                 "Content-Type: application/x-www-form-urlencoded\r\n" +
                 "Content-Length: 23\r\nTransfer-Encoding: chunked\r\n\r\n" + "17\r\n" + form +
                 "\r\n0\r\n\r\n";
             EXPECT_EQ(StatusOf(Exchange(h.port(), chunked)), 400);
             EXPECT_EQ(StatusOf(Exchange(h.port(), Post(kOpen, std::string(9000, 'a')))), 413);
             // A blank before the colon, or a folded line, hides the length from one reader.
             for (const std::string head : {"Content-Length : 23\r\n", "Content-Length:\r\n 23\r\n",
                                            "X-Folded: a\r\n b c\r\nContent-Length: 23\r\n"}) {
                 const std::string request = "POST " + kOpen + " HTTP/1.1\r\nHost: x\r\n" +
                                             "Content-Type: application/x-www-form-urlencoded\r\n" +
                                             head + "\r\n" + form;
                 EXPECT_EQ(StatusOf(Exchange(h.port(), request)), 400) << head;
             }
             EXPECT_EQ(h.News(), "OK lineas=,");
         }},
        {"conversations_per_address",
         {"--conversations-per-address", "2"},
         [](const Hostile& h) {
             EXPECT_EQ(h.Open("Ana").first, 201);
             EXPECT_EQ(h.Open("Eva").first, 201);
             const auto [status, body] = h.Open("Luz");
             EXPECT_EQ(status, 429);
             EXPECT_NE(body.find("demasiadas conversaciones"), std::string::npos) << body;
             EXPECT_EQ(h.Open("Luz", "127.0.0.7").first, 201) << "another address";
             const std::string news = h.News();
             EXPECT_EQ(std::count(news.begin(), news.end(), '|'), 3);
         }},
        {"forwarded_for_is_believed_only_from_a_trusted_proxy",
         {"--conversations-per-address", "1", "--trusted-proxy", "127.0.0.5"},
         [](const Hostile& h) {
             const std::string a = "X-Forwarded-For: 198.51.100.1, 192.0.2.1\r\n";
             const std::string b = "X-Forwarded-For: 198.51.100.1, 192.0.2.2\r\n";
             EXPECT_EQ(h.Open("Ana", "127.0.0.5", a).first, 201);
             EXPECT_EQ(h.Open("Eva", "127.0.0.5", a).first, 429) << "the same client";
             EXPECT_EQ(h.Open("Eva", "127.0.0.5", b).first, 201) << "another client";
             EXPECT_EQ(h.Open("Luz", "127.0.0.6", a).first, 201);
             EXPECT_EQ(h.Open("Luz", "127.0.0.6", b).first, 429) << "not a trusted proxy";
         }},
        {"lines_per_address",
         {"--lines-per-address", "3"},
         [](const Hostile& h) {
             const auto conversation = h.Opened("Ana");
             for (int i = 0; i < 3; ++i) EXPECT_EQ(h.Write(conversation, "hola"), 200);
             EXPECT_EQ(h.Write(conversation, "hola"), 429);
         }},
        {"lines_and_bytes_per_conversation",
         {"--lines-per-conversation", "3", "--bytes-per-conversation", "13"},
         [](const Hostile& h) {
             const auto conversation = h.Opened("Ana");
             EXPECT_EQ(h.Write(conversation, "12345678901"), 200);
             EXPECT_EQ(h.Write(conversation, "123"), 409) << "14 bytes";
             EXPECT_EQ(h.Write(conversation, "1"), 200);
             const std::string chat =
                 "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + h.Session() +
                 "&idsesionclt=" + conversation.first;
             EXPECT_EQ(h.service.Body(chat + "&mensaje=x"),
                       "<b>Ana</b>: 12345678901<br>"
                       "<b>Ana</b>: 1<br><b>Operador</b>: x");
             EXPECT_TRUE(h.service.Body(chat + "&mensaje=y").starts_with("ERROR: "));
             EXPECT_EQ(h.Write(conversation, "z"), 409);
         }},
        {"waiting_conversations_per_company",
         {"--waiting-per-company", "2"},
         [](const Hostile& h) {
             const auto first = h.Opened("Ana");
             h.Opened("Eva");
             EXPECT_EQ(h.Open("Luz").first, 503);
             EXPECT_EQ(h.service.Body("/tertulia.php?accion=dropclt&idempresa=demo&idsesion=" +
                                      h.Session() + "&idsesionclt=" + first.first),
                       "OK");
             EXPECT_EQ(h.Open("Luz").first, 201);
         }},
        {"unread_large_replies_are_held_within_a_budget",
         {"--lines-per-address", "0"},
         [](const Hostile& h) {
#ifdef TERTULIA_SANITIZED_BUILD
             std::cout << "not measured: memory and time mean nothing under AddressSanitizer\n";
             return;
#endif
             if (!RoomForSockets(1300)) GTEST_SKIP() << "no room for 1,024 sockets here";
             // The largest transcript: its whole text of "<", which JSON needs no escape for.
             const auto conversation = h.Opened("Ana");
             std::string line;
             for (int i = 0; i < 2000; ++i) line += "%3C";
             for (int i = 0; i < 131; ++i) ASSERT_EQ(h.Write(conversation, line), 200) << i;
             const std::string read =
                 Get("/api/conversaciones/" + conversation.first + "?token=" + conversation.second);
             EXPECT_LT(BodyOf(Exchange(h.port(), read)).size(), 270'000u);
             // 1,024 clients from 16 addresses ask for it and never read.
             std::vector<std::unique_ptr<RawConnection>> unread;
             for (int n = 0; n < 1024; ++n) {
                 const std::string from = "127.0.0." + std::to_string(2 + n % 16);
                 unread.push_back(std::make_unique<RawConnection>(h.port(), from.c_str(), 4096));
                 unread.back()->Send(read);
             }
             double resident = 0;
             for (int i = 0; i < 50; ++i) {
                 resident = std::max(resident, ResidentMiB(h.service.Pid()));
                 std::this_thread::sleep_for(100ms);
             }
             const auto start = std::chrono::steady_clock::now();
             EXPECT_EQ(h.News().substr(0, 2), "OK");
             const std::chrono::duration<double> normal = std::chrono::steady_clock::now() - start;
             std::cout << "1,024 unread replies: at most " << resident << " MiB resident; a normal "
                       << "request meanwhile took " << normal.count() << " s\n";
             EXPECT_LT(resident, 128);
             EXPECT_LT(normal.count(), 5) << "answered while they wait";
         }},
        {"a_slow_body_is_cut_at_its_deadline",
         // One second for the head, one more per KiB that opening a conversation takes (8).
         {"--head-timeout", "1"},
         [kOpen](const Hostile& h) {
             RawConnection slow(h.port());
             const auto start = std::chrono::steady_clock::now();
             slow.Send("POST " + kOpen + " HTTP/1.1\r\nHost: x\r\nContent-Length: 4000\r\n\r\n");
             bool cut = false;
             for (int i = 0; i < 80 && !cut; ++i) {
                 std::this_thread::sleep_for(250ms);
                 cut = !slow.Send("a") || slow.ClosedByService();
             }
             const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - start;
             EXPECT_TRUE(cut) << "still open after 20 s of trickling";
             EXPECT_GT(taken.count(), 3) << "the body has more time than the head";
         }},
        {"conversations_per_network",
         {"--conversations-per-network", "2"},
         [](const Hostile& h) {
             EXPECT_EQ(h.Open("Ana", "127.0.0.2").first, 201);
             EXPECT_EQ(h.Open("Eva", "127.0.0.3").first, 201);
             const auto [status, body] = h.Open("Luz", "127.0.0.4");
             EXPECT_EQ(status, 429);
             EXPECT_NE(body.find("desde su red"), std::string::npos) << body;
             EXPECT_EQ(h.Open("Luz", "127.0.1.4").first, 201) << "another network";
         }},
        {"a_silent_visitor_gives_up_its_waiting_place",
         {"--waiting-per-company", "1", "--visitor-silence", "3"},
         [](const Hostile& h) {
             const auto ana = h.Opened("Ana");
             // Ana's page keeps reading: she holds her place past the silence.
             const std::string read = "/api/conversaciones/" + ana.first + "?token=" + ana.second;
             for (int i = 0; i < 5; ++i) {
                 std::this_thread::sleep_for(1s);
                 EXPECT_EQ(GetPath(h.port(), read).status, 200);
             }
             EXPECT_EQ(h.Open("Eva").first, 503);
             std::this_thread::sleep_for(4s);
             EXPECT_EQ(h.Open("Eva").first, 201) << "Ana went silent";
             EXPECT_NE(GetPath(h.port(), read).body.find("\"abierta\":false"), std::string::npos);
             const std::string chat = h.service.Body(
                 "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + h.Session() +
                 "&idsesionclt=" + ana.first);
             EXPECT_NE(chat.find("<b>Tertulia</b>: La conversaci&oacute;n ha terminado."),
                       std::string::npos)
                 << chat;
         }},
        {"names_that_read_as_the_operator_or_hide_characters",
         {},
         [](const Hostile& h) {
             for (const char* name :
                  {"Operador", "+operador+", "OPERAD%C3%93R", "Opera%CC%81dor", "%C3%B3perador",
                   "Ana%E2%80%AEanA", "Ana%E2%80%8FB", "a%E2%80%A8b", "a%E2%80%A9b",
                   "%E2%81%A6x%E2%81%A9", "Op%E2%80%8Berador", "Operador.", "%D0%9Eperador",
                   "TERTULIA"}) {
                 EXPECT_EQ(h.Open(name).first, 400) << name;
             }
             EXPECT_EQ(h.Open("Operadora").first, 201);
             EXPECT_EQ(h.Open("El+operador+nuevo").first, 201);
             const std::string news = h.News();
             EXPECT_EQ(std::count(news.begin(), news.end(), '|'), 2) << "nothing else";
         }},
    };
    ForEachRow(rows, [](const HostileCase& row) {
        TemporaryDirectory directory;
        std::vector<std::string> options;
        for (const std::string& option : row.options) {
            options.push_back(option == "UPDATE" ? directory.path() + "/update" : option);
        }
        std::ofstream(directory.path() + "/update") << "0123456789";
        ServiceProcess service({.arguments = options, .errors = directory.path() + "/errors.txt"});
        row.attack(Hostile{service});
    });
}

// The replies to a login, in Windows-1252.
const std::string kWrongLogin =
    Windows1252FromUtf8("ERROR: Código de empresa o contraseña incorrectos.");
const std::string kChecksBusy = Windows1252FromUtf8(
    "ERROR: El servicio está ocupado comprobando contraseñas; inténtelo de nuevo.");
const std::string kWaitOneSecond =
    "ERROR: Demasiados intentos fallidos; espere 1 segundo antes de volver a intentarlo.";

std::string LoginTarget(const std::string& code, const std::string& password) {
    return "/tertulia.php?accion=do_login&idempresa=" + code +
           "&contrasena=" + Md5TextOfString(password);
}

// On the service's own clock, which the test holds still and moves.
TEST(HostileTraffic, failed_logins_back_off_from_the_fifth_per_company_and_per_address) {
    RunningService service;
    const auto login = [&](const std::string& code, const std::string& password,
                           const char* from = "127.0.0.1") {
        return BodyOf(Exchange(service.port(), Get(LoginTarget(code, password)), from));
    };
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(login("demo", "mal"), kWrongLogin) << i;
    EXPECT_EQ(login("demo", "demo"), kWaitOneSecond) << "refused unchecked";
    service.now += 1;
    EXPECT_TRUE(login("demo", "demo").starts_with("OK=")) << "after a second's wait";

    // Five failures from one address on five codes hold that address back.
    for (int i = 0; i < 5; ++i) login("otra" + std::to_string(i), "mal");
    EXPECT_TRUE(login("demo", "demo").starts_with("ERROR: Demasiados intentos"));
    service.now += 1;
    EXPECT_TRUE(login("demo", "demo").starts_with("OK="));

    // While 127.0.0.2 attacks the company, another unknown address waits from its first failure
    // on; 127.0.0.1, which has logged in to it, does not.
    for (int i = 0; i < 5; ++i) login("demo", "mal", "127.0.0.2");
    EXPECT_EQ(login("demo", "mal", "127.0.0.3"), kWrongLogin) << "its first attempt is checked";
    EXPECT_EQ(login("demo", "demo", "127.0.0.3"), kWaitOneSecond);
    EXPECT_EQ(login("demo", "mal"), kWrongLogin);
    EXPECT_TRUE(login("demo", "demo").starts_with("OK="));

    // The refusals are logged per address once their minute has ended.
    service.now += 60;
    login("demo", "mal", "127.0.0.2");
    EXPECT_TRUE(login("demo", "mal", "127.0.0.2").starts_with("ERROR: Demasiados intentos"));
    const std::string log = ::testing::internal::GetCapturedStderr();
    for (const std::string line :
         {"inicio de sesión fallido de la empresa «demo» desde 127.0.0.1 (5 seguidos",
          "inicio de sesión fallido de la empresa desconocida «otra0» desde 127.0.0.1 (1 de la "
          "dirección)",
          "2 intentos de inicio de sesión rechazados desde 127.0.0.1 en el último minuto",
          "1 intento de inicio de sesión rechazado desde 127.0.0.3 en el último minuto"}) {
        EXPECT_EQ(Occurrences(log, line), 1u) << line << "\n" << log;
    }
}

// The replies to `count` logins with a wrong password sent at once, each on a connection of its
// own from the address that `from` names for it.
std::vector<std::string> WrongLoginsAtOnce(int port, int count,
                                           const std::function<std::string(int)>& from) {
    std::vector<std::unique_ptr<RawConnection>> connections;
    for (int i = 0; i < count; ++i) {
        connections.push_back(std::make_unique<RawConnection>(port, from(i).c_str()));
    }
    const std::string request = Get(LoginTarget("demo", "mal"));
    IntoTheNextSecond();
    for (auto& connection : connections) connection->Send(request);
    std::vector<std::string> bodies;
    for (auto& connection : connections) bodies.push_back(BodyOf(connection->Replies(1)));
    return bodies;
}

// Logins from many clients at once, against the real service process and its own clock.
TEST(HostileTraffic, logins_in_a_flood_are_checked_sparingly_and_let_the_operator_in) {
    struct FloodCase {
        const char* name;
        std::function<void(const ServiceProcess&, const std::string& log)> attack;
    };
    const std::vector<FloodCase> rows = {
        {"sixty_at_once_from_one_new_address_have_five_checked",
         [](const ServiceProcess& service, const std::string& log) {
             const auto bodies =
                 WrongLoginsAtOnce(service.Port(), 60, [](int) { return "127.0.0.2"; });
             EXPECT_EQ(std::count(bodies.begin(), bodies.end(), kWrongLogin), 5);
             for (const std::string& body : bodies) {
                 EXPECT_TRUE(body == kWrongLogin || body == kChecksBusy ||
                             body.starts_with("ERROR: Demasiados intentos"))
                     << body;
             }
             EXPECT_EQ(Occurrences(ReadWholeFile(log), "«demo» desde 127.0.0.2 ("), 5u);
         }},
        {"sixty_at_once_from_sixty_addresses_find_the_checks_busy",
         [](const ServiceProcess& service, const std::string& log) {
             const auto bodies = WrongLoginsAtOnce(
                 service.Port(), 60, [](int i) { return "127.0.0." + std::to_string(10 + i); });
             const auto wrong = std::count(bodies.begin(), bodies.end(), kWrongLogin);
             const auto busy = std::count(bodies.begin(), bodies.end(), kChecksBusy);
             EXPECT_GT(busy, 0);
             EXPECT_EQ(wrong + busy, 60);
             EXPECT_EQ(Occurrences(ReadWholeFile(log), "inicio de sesión fallido"),
                       static_cast<std::size_t>(wrong));
         }},
        {"the_operator_gets_in_while_another_address_floods",
         [](const ServiceProcess& service, const std::string&) {
             std::atomic<bool> flooding = true;
             std::atomic<int> attempts = 0;
             std::vector<std::thread> attackers;
             for (int i = 0; i < 30; ++i) {
                 attackers.emplace_back([&] {
                     RawConnection connection(service.Port(), "127.0.0.2");
                     const std::string request = Get(LoginTarget("demo", "mal"));
                     while (flooding && connection.Send(request) &&
                            !connection.Replies(1).empty()) {
                         ++attempts;
                     }
                 });
             }
             const auto operatorLogin = [&] {
                 return BodyOf(
                     Exchange(service.Port(), Get(LoginTarget("demo", "demo")), "127.0.0.3"));
             };
             int loggedIn = 0;
             int busyRetries = 0;
             for (int n = 0; n < 15; ++n) {
                 std::this_thread::sleep_for(200ms);
                 std::string body = operatorLogin();
                 for (int retry = 0; body == kChecksBusy && retry < 10; ++retry) {
                     ++busyRetries;
                     body = operatorLogin();
                 }
                 if (body.starts_with("OK=")) {
                     ++loggedIn;
                 } else {
                     ADD_FAILURE() << "login " << n << ": " << body;
                 }
             }
             flooding = false;
             for (std::thread& attacker : attackers) attacker.join();
             EXPECT_EQ(loggedIn, 15) << busyRetries << " retries after the checks were busy";
             EXPECT_GT(attempts, 100) << "the flood ran";
             ::testing::Test::RecordProperty("operator_logins", loggedIn);
             ::testing::Test::RecordProperty("operator_busy_retries", busyRetries);
             ::testing::Test::RecordProperty("attacker_attempts", attempts);
         }},
    };
    ForEachRow(rows, [](const FloodCase& row) {
        TemporaryDirectory directory;
        const std::string log = directory.path() + "/errors.txt";
        const ServiceProcess service({.errors = log});
        row.attack(service, log);
    });
}

// Addresses of one IPv6 /64, routed to the loopback of a network namespace of the test's own.
TEST(HostileTraffic, connections_per_address_count_an_ipv6_client_by_its_64) {
    std::string skipped;
    // The namespace is entered by this thread alone; the service it starts inherits it.
    std::thread inside([&] {
        if (::unshare(CLONE_NEWNET) != 0 ||
            std::system("ip link set lo up && ip -6 route add local 2001:db8:1::/64 dev lo") != 0) {
            skipped = "cannot make a network namespace with an IPv6 network here";
            return;
        }
        ServiceProcess service(
            {.arguments = {"--max-connections-per-address", "3"}, .listen = "::"});
        std::vector<std::unique_ptr<RawConnection>> held;
        for (const char* from : {"2001:db8:1::a", "2001:db8:1::b", "2001:db8:1::c"}) {
            held.push_back(std::make_unique<RawConnection>(service.Port(), from));
        }
        std::this_thread::sleep_for(200ms);
        RawConnection fourth(service.Port(), "2001:db8:1::d");
        EXPECT_TRUE(fourth.ClosedWithin(20s)) << "a fourth address of the same /64";
        EXPECT_EQ(StatusOf(Exchange(service.Port(), Get("/"), "::1")), 200) << "another /64";
    });
    inside.join();
    if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST(HostileTraffic, a_read_only_database_refuses_to_start) {
    TemporaryDirectory directory;
    ReadOnlyDatabaseRefusesToStart(directory.path());
}

TEST(HostileTraffic, two_services_start_together_on_one_new_database) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        TemporaryDirectory directory;
        const std::string database = directory.path() + "/service.db";
        const ServiceProcess::Options options{.database = database};
        std::unique_ptr<ServiceProcess> first;
        std::unique_ptr<ServiceProcess> second;
        std::thread starter([&] { first = std::make_unique<ServiceProcess>(options); });
        EXPECT_NO_THROW(second = std::make_unique<ServiceProcess>(options));
        starter.join();
        ASSERT_TRUE(first && second) << "attempt " << attempt;
        for (const ServiceProcess* service : {first.get(), second.get()}) {
            EXPECT_TRUE(service->LoginReply().starts_with("OK="));
        }
    }
}

// A client's stream beyond the cap that the descriptor limit sets: answered at once rather than
// left waiting, as is the health check meanwhile.
TEST(HostileTraffic, streams_beyond_the_descriptor_limit_are_refused_and_health_answers) {
    constexpr int kStreams = 1400;
    // The acceptance's 1 s, with room for a loaded machine.
    constexpr auto kAnswered = 3s;
    if (!RoomForSockets(kStreams + 200)) GTEST_SKIP() << "no room for 1,400 sockets here";
    if (!std::filesystem::exists("/usr/bin/prlimit")) {
        GTEST_SKIP() << "prlimit is missing (Debian package util-linux)";
    }
    TemporaryDirectory directory;
    const std::string errors = directory.path() + "/errors.txt";
    const ServiceProcess service({.arguments = {"--max-connections-per-address", "0"},
                                  .errors = errors,
                                  .prefix = {"/usr/bin/prlimit", "--nofile=1024:1024", "--"}});
    const std::string capLine = "límite de descriptores (1024) deja 960 conexiones de las 19000";
    for (int i = 0; i < 100 && ReadWholeFile(errors).find(capLine) == std::string::npos; ++i) {
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_NE(ReadWholeFile(errors).find(capLine), std::string::npos) << ReadWholeFile(errors);
    const VisitorConversation conversation = OpenConversation(service.Port(), "Ana");
    const std::string request =
        Get("/api/conversaciones/" + conversation.id + "/eventos?token=" + conversation.token);

    struct Client {
        std::unique_ptr<RawConnection> connection;
        std::chrono::steady_clock::time_point sent;
        std::string head;
        std::chrono::duration<double> took{};
    };
    std::vector<Client> clients(kStreams);
    std::vector<pollfd> waiting;
    std::vector<int> waitingClient;
    // Takes what has come; false while some client still waits for its reply's head.
    const auto take = [&](int timeout) {
        if (waiting.empty()) return true;
        if (::poll(waiting.data(), waiting.size(), timeout) <= 0) return false;
        for (std::size_t i = waiting.size(); i-- > 0;) {
            if (waiting[i].revents == 0) continue;
            Client& client = clients[waitingClient[i]];
            char buffer[4096];
            const ssize_t count = ::recv(waiting[i].fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (count > 0) client.head.append(buffer, static_cast<std::size_t>(count));
            if (count == 0 || client.head.find("\r\n\r\n") != std::string::npos) {
                client.took = std::chrono::steady_clock::now() - client.sent;
                waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
                waitingClient.erase(waitingClient.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        return waiting.empty();
    };
    std::chrono::duration<double> slowestHealth{};
    const auto health = [&] {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(StatusOf(Exchange(service.Port(), Get("/salud"))), 200);
        slowestHealth = std::max(
            slowestHealth, std::chrono::duration<double>(std::chrono::steady_clock::now() - start));
    };
    for (int n = 0; n < kStreams; ++n) {
        clients[n].connection = std::make_unique<RawConnection>(service.Port());
        clients[n].sent = std::chrono::steady_clock::now();
        clients[n].connection->Send(request);
        waiting.push_back({clients[n].connection->fd(), POLLIN, 0});
        waitingClient.push_back(n);
        take(0);
        if (n % 100 == 99) health();
    }
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!take(100) && std::chrono::steady_clock::now() < deadline) {
    }
    health();

    int held = 0;
    int refused = 0;
    std::chrono::duration<double> slowest{};
    for (Client& client : clients) {
        slowest = std::max(slowest, client.took);
        if (StatusOf(client.head) == 200) {
            ++held;
            EXPECT_FALSE(client.connection->ClosedByService());
        } else {
            ++refused;
            EXPECT_EQ(StatusOf(client.head), 503) << client.head;
            EXPECT_NE(client.head.find("Retry-After: 5\r\n"), std::string::npos) << client.head;
            EXPECT_TRUE(client.connection->ClosedWithin(2s));
        }
    }
    EXPECT_GE(held, 950);
    EXPECT_LE(held, 960);
    EXPECT_EQ(held + refused, kStreams);
    EXPECT_LT(slowest, kAnswered) << "a connection waited for its answer";
    EXPECT_LT(slowestHealth, kAnswered) << "the health check waited";
    std::cout << "slowest answer " << slowest.count() * 1000 << " ms, slowest health check "
              << slowestHealth.count() * 1000 << " ms" << std::endl;
}
}  // namespace
}  // namespace tertulia::testing
