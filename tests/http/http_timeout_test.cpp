#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "http/connect_probe.h"
#include "http/http_client.h"
#include "tests/http/failure_of.h"
#include "tests/http/script_server.h"

namespace tertulia {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kTimedOut = "Socket Error # 10060\r\nConnection timed out.";

using test::FailureOf;

TEST(HttpTimeoutTest, ServerThatAcceptsButNeverAnswers) {
    test::ScriptServer server;
    server.AddConnection({test::ReadRequest()});
    HttpClient client;
    client.SetReadTimeout(400ms);
    const auto start = Clock::now();
    EXPECT_EQ(FailureOf(client, server.Url()), kTimedOut);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 400ms);
    EXPECT_LT(waited, 5s);
    EXPECT_TRUE(server.WaitForClosed(0)) << "the timed-out connection is closed";
}

TEST(HttpTimeoutTest, ServerThatStallsWithinTheBody) {
    test::ScriptServer server;
    server.AddConnection(
        {test::ReadRequest(), test::Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc")});
    HttpClient client;
    client.SetReadTimeout(300ms);
    EXPECT_EQ(FailureOf(client, server.Url()), kTimedOut);
}

// Two network namespaces of the test's own joined by a veth pair; the client side knows the
// far address only under a hardware address that nobody owns, so every packet sent to it is
// dropped and a connect never completes.
class BlackHoleNetwork {
  public:
    BlackHoleNetwork() {
        const std::string id = std::to_string(::getpid() % 100000);
        client_ = "tt-hc-" + id;
        far_ = "tt-hf-" + id;
        const std::string near = "tthc" + id, farLink = "tthf" + id;
        ok_ = Run("ip netns add " + client_) && Run("ip netns add " + far_) &&
              Run("ip link add " + near + " netns " + client_ + " type veth peer name " + farLink +
                  " netns " + far_) &&
              Run("ip -n " + client_ + " addr add 10.213.7.1/30 dev " + near) &&
              Run("ip -n " + far_ + " addr add 10.213.7.2/30 dev " + farLink) &&
              Run("ip -n " + client_ + " link set " + near + " up") &&
              Run("ip -n " + far_ + " link set " + farLink + " up") &&
              Run("ip -n " + client_ + " neigh replace 10.213.7.2 lladdr 02:00:00:00:00:99 dev " +
                  near + " nud permanent");
    }
    ~BlackHoleNetwork() {
        Run("ip netns del " + client_);
        Run("ip netns del " + far_);
    }
    bool Ok() const { return ok_; }
    std::string ClientNamespacePath() const { return "/var/run/netns/" + client_; }

  private:
    static bool Run(const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    }
    std::string client_, far_;
    bool ok_ = false;
};

TEST(HttpTimeoutTest, ConnectThatNeverCompletes) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make network namespaces";
    if (std::system("command -v ip >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs iproute2's ip";
    BlackHoleNetwork network;
    if (!network.Ok()) GTEST_SKIP() << "cannot make network namespaces and a veth pair here";

    std::string message;
    Clock::duration waited{};
    // A namespace is joined per thread, so the client runs on a thread of its own there.
    std::thread inside([&] {
        const int fd = ::open(network.ClientNamespacePath().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
            message = "cannot enter the namespace";
            return;
        }
        ::close(fd);
        HttpClient client;
        client.SetConnectTimeout(500ms);
        const auto start = Clock::now();
        message = FailureOf(client, "http://10.213.7.2:8080/tertulia.php");
        waited = Clock::now() - start;
    });
    inside.join();
    EXPECT_EQ(message, kTimedOut);
    EXPECT_GE(waited, 500ms);
    EXPECT_LT(waited, 5s);
}

// A loopback port with a listener on it, or with none once `listening` is false.
class LoopbackPort {
  public:
    explicit LoopbackPort(bool listening) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (listening) {
            ::listen(fd_, 4);
        } else {
            ::close(std::exchange(fd_, -1));
        }
    }
    ~LoopbackPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

ConnectProbe::Reach Settled(ConnectProbe& probe) {
    const auto end = Clock::now() + 5s;
    ConnectProbe::Reach reach;
    while ((reach = probe.Check()) == ConnectProbe::Reach::Pending && Clock::now() < end) {
        std::this_thread::sleep_for(10ms);
    }
    return reach;
}

TEST(HttpTimeoutTest, a_connect_probe_learns_whether_a_port_takes_connections) {
    const LoopbackPort listening(true);
    const LoopbackPort closed(false);
    const struct {
        const char* name;
        std::string url;
        ConnectProbe::Reach reach;
    } rows[] = {
        {"a listener", listening.Url(), ConnectProbe::Reach::Reachable},
        {"an https address, reached on its port alone", "https" + listening.Url().substr(4),
         ConnectProbe::Reach::Reachable},
        {"nobody listening", closed.Url(), ConnectProbe::Reach::Unreachable},
        {"not a URL one can connect to", "ftp://127.0.0.1/", ConnectProbe::Reach::Unreachable},
    };
    for (const auto& row : rows) {
        const auto probe = StartConnectProbe(row.url);
        EXPECT_EQ(Settled(*probe), row.reach) << row.name;
        EXPECT_EQ(probe->Check(), row.reach) << row.name << ": once settled it stays";
    }
}

TEST(HttpTimeoutTest, a_connect_probe_never_waits_for_a_host_that_does_not_answer) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make network namespaces";
    if (std::system("command -v ip >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs iproute2's ip";
    BlackHoleNetwork network;
    if (!network.Ok()) GTEST_SKIP() << "cannot make network namespaces and a veth pair here";

    std::vector<ConnectProbe::Reach> seen;
    Clock::duration took{};
    std::thread inside([&] {
        const int fd = ::open(network.ClientNamespacePath().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) return;
        ::close(fd);
        const auto start = Clock::now();
        const auto probe = StartConnectProbe("http://10.213.7.2:8080/");
        seen.push_back(probe->Check());
        took = Clock::now() - start;
        std::this_thread::sleep_for(300ms);
        seen.push_back(probe->Check());
    });
    inside.join();
    EXPECT_EQ(seen, std::vector<ConnectProbe::Reach>(2, ConnectProbe::Reach::Pending));
    EXPECT_LT(took, 200ms);
}

}  // namespace
}  // namespace tertulia
