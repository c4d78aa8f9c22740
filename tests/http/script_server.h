#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tertulia::test {

// One action of a scripted connection.
struct ServerStep {
    enum class Kind { ReadRequest, Send, Pause, Close };
    Kind kind;
    std::string bytes;
    std::chrono::milliseconds pause{0};
};

ServerStep ReadRequest();  // waits for a whole request head and records it
ServerStep Send(std::string bytes);
ServerStep Pause(std::chrono::milliseconds duration);
ServerStep Close();  // closes the connection from the server's side

// A loopback server that plays one script per accepted connection, in the order of
// acceptance, and records every request head exactly as received. A connection whose script
// has run out stays open, silent, until the client closes it.
class ScriptServer {
  public:
    // Listens on a free port of `address`, a loopback address.
    explicit ScriptServer(const char* address = "127.0.0.1");
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    void AddConnection(std::vector<ServerStep> script);

    int Port() const { return port_; }
    std::string Url(const std::string& target = "/") const;

    struct Request {
        int connection;  // index of the connection, in order of acceptance
        std::string bytes;
    };
    std::vector<Request> Requests() const;
    int ConnectionsAccepted() const;
    // Waits until connection `index` has been closed by either side (false after `limit`).
    bool WaitForClosed(int index, std::chrono::milliseconds limit = std::chrono::seconds(5));

  private:
    void AcceptLoop();
    void Serve(int index, int fd, std::vector<ServerStep> script);

    std::string address_;
    int listenFd_ = -1;
    int port_ = 0;
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<std::vector<ServerStep>> scripts_;
    std::vector<Request> requests_;
    std::vector<int> connectionFds_;
    std::vector<bool> closed_;
    std::vector<std::thread> workers_;
};

// A whole reply: status line, header lines and body, with CR LF line ends.
std::string Reply(const std::string& statusLine, const std::vector<std::string>& headers,
                  const std::string& body = {});

}  // namespace tertulia::test
