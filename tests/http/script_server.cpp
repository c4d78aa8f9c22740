#include "tests/http/script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace tertulia::test {

ServerStep ReadRequest() {
    return {ServerStep::Kind::ReadRequest, {}, {}};
}
ServerStep Send(std::string bytes) {
    return {ServerStep::Kind::Send, std::move(bytes), {}};
}
ServerStep Pause(std::chrono::milliseconds duration) {
    return {ServerStep::Kind::Pause, {}, duration};
}
ServerStep Close() {
    return {ServerStep::Kind::Close, {}, {}};
}

std::string Reply(const std::string& statusLine, const std::vector<std::string>& headers,
                  const std::string& body) {
    std::string reply = statusLine + "\r\n";
    for (const auto& header : headers) reply += header + "\r\n";
    return reply + "\r\n" + body;
}

ScriptServer::ScriptServer(const char* listenAddress) : address_(listenAddress) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    if (listenFd_ < 0 || ::inet_pton(AF_INET, listenAddress, &address.sin_addr) != 1 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("test server cannot listen");
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptServer::~ScriptServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (std::size_t i = 0; i < connectionFds_.size(); ++i)
            if (!closed_[i]) ::shutdown(connectionFds_[i], SHUT_RDWR);
    }
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    for (auto& worker : workers_) worker.join();
    ::close(listenFd_);
}

void ScriptServer::AddConnection(std::vector<ServerStep> script) {
    std::lock_guard lock(mutex_);
    scripts_.push_back(std::move(script));
}

std::string ScriptServer::Url(const std::string& target) const {
    return "http://" + address_ + ":" + std::to_string(port_) + target;
}

std::vector<ScriptServer::Request> ScriptServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int ScriptServer::ConnectionsAccepted() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(connectionFds_.size());
}

bool ScriptServer::WaitForClosed(int index, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(
        lock, limit, [&] { return index < static_cast<int>(closed_.size()) && closed_[index]; });
}

void ScriptServer::AcceptLoop() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(mutex_);
        if (fd < 0 || stopping_) {
            if (fd >= 0) ::close(fd);
            return;
        }
        const int index = static_cast<int>(connectionFds_.size());
        connectionFds_.push_back(fd);
        closed_.push_back(false);
        std::vector<ServerStep> script;
        if (index < static_cast<int>(scripts_.size())) script = scripts_[index];
        workers_.emplace_back([this, index, fd, script = std::move(script)]() mutable {
            Serve(index, fd, std::move(script));
        });
    }
}

void ScriptServer::Serve(int index, int fd, std::vector<ServerStep> script) {
    std::string received;
    bool open = true;
    auto receiveMore = [&] {
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        received.append(buffer, static_cast<std::size_t>(n));
        return true;
    };
    auto recordRequests = [&] {
        const std::size_t end = received.find("\r\n\r\n");
        if (end == std::string::npos) return false;
        std::lock_guard lock(mutex_);
        requests_.push_back({index, received.substr(0, end + 4)});
        received.erase(0, end + 4);
        return true;
    };
    for (const auto& step : script) {
        if (!open) break;
        switch (step.kind) {
            case ServerStep::Kind::ReadRequest:
                while (!recordRequests())
                    if (!receiveMore()) {
                        open = false;
                        break;
                    }
                break;
            case ServerStep::Kind::Send:
                if (::send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) !=
                    static_cast<ssize_t>(step.bytes.size()))
                    open = false;
                break;
            case ServerStep::Kind::Pause:
                std::this_thread::sleep_for(step.pause);
                break;
            case ServerStep::Kind::Close:
                open = false;
                break;
        }
    }
    // Silent until the client closes; a request that comes meanwhile is still recorded.
    while (open && receiveMore()) recordRequests();
    std::lock_guard lock(mutex_);
    ::close(fd);
    closed_[index] = true;
    changed_.notify_all();
}

}  // namespace tertulia::test
