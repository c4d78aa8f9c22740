#pragma once

#include <sys/socket.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tertulia {

// Takes connections from a listening socket only while the server has room for them; the rest
// wait in the kernel's queue meanwhile, as they would at a server that stopped accepting. The
// server's own count decides, so that connections it serves outside its HTTP library count too.
class Acceptor {
  public:
    struct Hooks {
        // Whether one more connection may be taken now; from the acceptor's thread.
        std::function<bool()> room;
        // Takes a connection, the descriptor with it.
        std::function<void(int fd, const sockaddr* address, socklen_t size)> take;
    };

    // Starts accepting on its own thread.
    Acceptor(int listenSocket, Hooks hooks);
    ~Acceptor();
    Acceptor(const Acceptor&) = delete;
    Acceptor& operator=(const Acceptor&) = delete;

    // A place may have come free.
    void Freed();
    // Accepts no more; returns once the thread has ended.
    void Stop();

  private:
    void Run();

    const int listenSocket_;
    const Hooks hooks_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool freed_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tertulia
