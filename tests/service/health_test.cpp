#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "running_service.h"
#include "tests/support/command_run.h"
#include "tests/support/service_process.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/whole_file.h"

namespace tertulia::testing {
namespace {

TEST(Metrics, the_page_counts_the_traffic_by_route_and_passes_promtool) {
    TemporaryDirectory directory;
    const ServiceProcess service({.arguments = {"--metrics-listen", "127.0.0.1:0"}});
    const auto health = LoopbackClient(service.Port())->Head("/salud");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
    EXPECT_EQ(service.Body("/salud"), "OK");
    service.Login();
    EXPECT_TRUE(service.LoginReply("demo", "mal").starts_with("ERROR"));
    OpenConversation(service.Port(), "Ana");
    EXPECT_EQ(GetPath(service.Port(), "/no-existe?x=1").status, 404);
    EXPECT_EQ(GetPath(service.Port(), "/api/conversaciones/999999/eventos?token=x").status, 404);
    EXPECT_EQ(GetPath(service.Port(), "/metrics").status, 404) << "never on the main address";

    const auto scrape = LoopbackClient(service.MetricsPort())->Get("/metrics");
    ASSERT_TRUE(scrape);
    EXPECT_EQ(scrape->status, 200);
    EXPECT_EQ(scrape->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    const std::string& page = scrape->body;
    // Each whole line, or the start of one whose value varies.
    for (const char* sample : {
             "tertulia_http_requests_total{route=\"/salud\",code=\"200\"} 2\n",
             "tertulia_http_requests_total{route=\"/tertulia.php\",code=\"200\"} 2\n",
             "tertulia_http_requests_total{route=\"/api/conversaciones\",code=\"201\"} 1\n",
             "tertulia_http_requests_total{route=\"otra\",code=\"404\"} 2\n",
             "tertulia_http_requests_total{route=\"/api/conversaciones/N/eventos\",code=\"404\"} "
             "1\n",
             "tertulia_http_request_duration_seconds_count{route=\"/tertulia.php\"} 2\n",
             "tertulia_open_streams{kind=\"visitante\"} 0\n",
             "tertulia_waiting_conversations 1\n",
             "tertulia_logins_refused_total{reason=\"credenciales\"} 1\n",
             "tertulia_database_errors_total 0\n",
             "tertulia_database_reconnections_total 0\n",
             "tertulia_first_response_seconds_count 0\n",
             "\nprocess_resident_memory_bytes ",
             "\nprocess_virtual_memory_bytes ",
             "\nprocess_cpu_seconds_total ",
             "\nprocess_open_fds ",
             "\nprocess_max_fds ",
             "\nprocess_start_time_seconds ",
         }) {
        EXPECT_NE(page.find(sample), std::string::npos) << sample << "\n" << page;
    }
    EXPECT_EQ(page.find("no-existe"), std::string::npos) << "a raw path as a label";
    EXPECT_EQ(GetPath(service.MetricsPort(), "/").status, 404);

    if (!std::filesystem::exists("/usr/bin/promtool")) {
        GTEST_SKIP() << "promtool is missing (Debian package prometheus): the format is unchecked";
    }
    std::ofstream(directory.path() + "/page") << page;
    const CommandRun check = RunCommand(
        "/usr/bin/promtool check metrics < '" + directory.path() + "/page'", directory.path());
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.out + check.err, "") << page;
}

// A conversation's first operator line is timed; its later lines and a conversation left
// unanswered are not.
TEST(Metrics, the_first_operator_line_of_a_conversation_is_timed) {
    const ServiceProcess service({.arguments = {"--metrics-listen", "127.0.0.1:0"}});
    const auto ana = OpenConversation(service.Port(), "Ana");
    OpenConversation(service.Port(), "Bea");
    const std::string chat =
        "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" + service.Login() +
        "&idsesionclt=" + ana.id;
    service.Body(chat + "&mensaje=uno");
    service.Body(chat + "&mensaje=dos");
    const auto scrape = LoopbackClient(service.MetricsPort())->Get("/metrics");
    ASSERT_TRUE(scrape);
    for (const char* sample : {
             "# TYPE tertulia_first_response_seconds histogram\n",
             "tertulia_first_response_seconds_bucket{le=\"3600\"} 1\n",
             "tertulia_first_response_seconds_bucket{le=\"+Inf\"} 1\n",
             "tertulia_first_response_seconds_count 1\n",
         }) {
        EXPECT_NE(scrape->body.find(sample), std::string::npos) << sample << "\n" << scrape->body;
    }
}

// What the service sends to the notify socket, a datagram at a time.
class NotifySocket {
  public:
    NotifySocket() : path_(directory_.path() + "/notify") {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("cannot bind " + path_);
        }
    }
    ~NotifySocket() { ::close(fd_); }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    const std::string& path() const { return path_; }

    // Waits for a datagram holding `line` as one of its lines; the datagrams before it go
    // uncounted. How many datagrams held `also` meanwhile, or -1 when `line` did not come.
    int WaitFor(const std::string& line, const std::string& also = "") {
        int seen = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 200) != 1) continue;
            char buffer[4096];
            const ssize_t size = ::recv(fd_, buffer, sizeof buffer, 0);
            if (size <= 0) continue;
            const std::string message = "\n" + std::string(buffer, size) + "\n";
            if (message.find("\n" + line + "\n") != std::string::npos) return seen;
            if (!also.empty() && message.find("\n" + also + "\n") != std::string::npos) ++seen;
        }
        return -1;
    }

  private:
    TemporaryDirectory directory_;
    std::string path_;
    int fd_ = -1;
};

TEST(SystemdNotify, ready_then_the_watchdog_then_stopping_at_sigterm) {
    NotifySocket notify;
    const ServiceProcess service(
        {.environment = {"NOTIFY_SOCKET=" + notify.path(), "WATCHDOG_USEC=200000"}});
    EXPECT_GE(notify.WaitFor("READY=1"), 0);
    // Half the watchdog's interval: several within the second before the stop.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ::kill(service.Pid(), SIGTERM);
    EXPECT_GE(notify.WaitFor("STOPPING=1", "WATCHDOG=1"), 2) << "heartbeats before the stop";
}

// A TCP connection to a loopback port, which sends only what it is told to.
class LoopbackSocket {
  public:
    explicit LoopbackSocket(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("cannot connect");
        }
    }
    ~LoopbackSocket() { ::close(fd_); }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    void Send(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // All received so far once it holds `part`, or what came within the limit.
    std::string Until(const std::string& part, std::chrono::seconds limit) {
        Read([&] { return received_.find(part) != std::string::npos; }, limit);
        return received_;
    }
    // Whether the other side closes the connection within the limit.
    bool ClosedWithin(std::chrono::seconds limit) {
        Read([] { return false; }, limit);
        return closed_;
    }

  private:
    template <typename Done>
    void Read(Done done, std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done() && !closed_ && std::chrono::steady_clock::now() < deadline) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) continue;
            char buffer[4096];
            const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
            if (count <= 0) closed_ = true;
            if (count > 0) received_.append(buffer, static_cast<std::size_t>(count));
        }
    }

    int fd_;
    std::string received_;
    bool closed_ = false;
};

TEST(Metrics, idle_sockets_neither_hold_a_scrape_back_nor_stay) {
    const ServiceProcess service({.arguments = {"--metrics-listen", "127.0.0.1:0"}});
    // Room for 64 at once: these and the scrape.
    std::vector<std::unique_ptr<LoopbackSocket>> idle;
    for (int i = 0; i < 60; ++i) {
        idle.push_back(std::make_unique<LoopbackSocket>(service.MetricsPort()));
    }
    const auto start = std::chrono::steady_clock::now();
    const auto scrape = LoopbackClient(service.MetricsPort())->Get("/metrics");
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(scrape);
    EXPECT_EQ(scrape->status, 200);
    EXPECT_LT(took, std::chrono::seconds(1));
    // Those that asked nothing go after 2 s.
    for (const auto& socket : idle) EXPECT_TRUE(socket->ClosedWithin(std::chrono::seconds(4)));
}

TEST(Signals, sighup_reopens_the_access_log_and_leaves_the_streams_open) {
    TemporaryDirectory directory;
    const std::string log = directory.path() + "/access.log";
    const ServiceProcess service({.arguments = {"--access-log", log}});
    const VisitorConversation conversation = OpenConversation(service.Port(), "Ana");
    LoopbackSocket stream(service.Port());
    stream.Send("GET /api/conversaciones/" + conversation.id +
                "/eventos?token=" + conversation.token + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    ASSERT_NE(stream.Until("\r\n\r\n", std::chrono::seconds(10)).find("200 OK"), std::string::npos);
    EXPECT_EQ(service.Body("/salud?antes"), "OK");

    std::filesystem::rename(log, log + ".1");
    ::kill(service.Pid(), SIGHUP);
    for (int i = 0; i < 100 && !std::filesystem::exists(log); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(service.Body("/salud?despues"), "OK");
    ASSERT_TRUE(VisitorWrites(service.Port(), conversation, "sigo"));
    EXPECT_NE(stream.Until("sigo", std::chrono::seconds(10)).find("sigo"), std::string::npos)
        << "the stream held before the signal goes on";
    const std::string before = ReadWholeFile(log + ".1");
    const std::string after = ReadWholeFile(log);
    EXPECT_NE(before.find("/salud?antes"), std::string::npos) << before;
    EXPECT_EQ(before.find("/salud?despues"), std::string::npos) << before;
    EXPECT_NE(after.find("/salud?despues"), std::string::npos) << after;
    EXPECT_EQ(::kill(service.Pid(), 0), 0) << "still running";
}
}  // namespace
}  // namespace tertulia::testing
