#include "tests/support/haproxy_balancer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/daemon_process.h"
#include "tests/support/whole_file.h"

namespace tertulia::test {

namespace {

constexpr const char* kHaproxy = "/usr/sbin/haproxy";

}  // namespace

HaproxyBalancer::HaproxyBalancer(const std::vector<int>& backendPorts) {
    if (::access(kHaproxy, X_OK) != 0) {
        error_ = "haproxy is not installed (Debian package haproxy)";
        return;
    }
    port_ = FreeLoopbackPort();
    const std::string config = directory_.path() + "/haproxy.cfg";
    {
        std::ofstream out(config);
        out << "global\n"
            << "  maxconn 1024\n"
            << "defaults\n"
            << "  mode http\n"
            << "  timeout connect 2s\n"
            << "  timeout client 60s\n"
            << "  timeout server 60s\n"
            << "  retries 2\n"
            << "  option redispatch 1\n"
            << "frontend front\n"
            << "  bind 127.0.0.1:" << port_ << "\n"
            << "  default_backend instances\n"
            << "backend instances\n"
            << "  balance roundrobin\n";
        for (std::size_t i = 0; i < backendPorts.size(); ++i) {
            out << "  server instance" << i << " 127.0.0.1:" << backendPorts[i] << "\n";
        }
    }
    const std::string log = directory_.path() + "/haproxy.log";
    pid_ = StartChild({kHaproxy, "-db", "-f", config}, log);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && !LoopbackAccepts(port_)) {
        const bool exited = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
        if (exited || std::chrono::steady_clock::now() > deadline) {
            if (!exited) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
            pid_ = -1;
            error_ = "haproxy did not start: " + testing::ReadWholeFile(log);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

HaproxyBalancer::~HaproxyBalancer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string HaproxyBalancer::Url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

}  // namespace tertulia::test
