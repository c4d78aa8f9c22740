#include "service/http_acceptor.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

namespace tertulia {

namespace {

// How often the thread looks at a stop, and at the room, when nothing tells it.
constexpr std::chrono::milliseconds kLook{250};

}  // namespace

Acceptor::Acceptor(int listenSocket, Hooks hooks)
    : listenSocket_(listenSocket), hooks_(std::move(hooks)), thread_([this] { Run(); }) {}

Acceptor::~Acceptor() {
    Stop();
}

void Acceptor::Freed() {
    {
        std::lock_guard lock(mutex_);
        freed_ = true;
    }
    changed_.notify_one();
}

void Acceptor::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void Acceptor::Run() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (stopping_) return;
            freed_ = false;
        }
        if (!hooks_.room()) {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, kLook, [&] { return stopping_ || freed_; });
            continue;
        }
        pollfd ready{listenSocket_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(kLook.count())) <= 0) continue;
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        const int fd = ::accept4(listenSocket_, reinterpret_cast<sockaddr*>(&address), &size,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            hooks_.take(fd, reinterpret_cast<const sockaddr*>(&address), size);
        } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // Out of descriptors or memory: what is queued waits until some come free.
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, kLook, [&] { return stopping_; });
        }
    }
}

}  // namespace tertulia
