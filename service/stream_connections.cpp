#include "service/stream_connections.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace tertulia {

namespace {

// The most of a stream's bytes that one write takes, with room before it for the chunk's size
// line and after it for the chunk's end.
constexpr std::size_t kBlock = 16 * 1024;
constexpr std::size_t kSizeRoom = 16;
// The wake-up descriptor's key in a shard's epoll set; connections are numbered from 1.
constexpr std::uint64_t kWakeUp = 0;

}  // namespace

class StreamConnections::Shard {
  public:
    Shard()
        : epoll_(::epoll_create1(EPOLL_CLOEXEC)),
          wakeUp_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        epoll_event watched{};
        watched.events = EPOLLIN;
        watched.data.u64 = kWakeUp;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeUp_, &watched);
        thread_ = std::thread([this] { Run(); });
    }
    ~Shard() {
        Stop();
        ::close(epoll_);
        ::close(wakeUp_);
    }
    Shard(const Shard&) = delete;
    Shard& operator=(const Shard&) = delete;

    void Adopt(Handover handover) {
        {
            std::lock_guard lock(mutex_);
            if (!stopping_) {
                arriving_.push_back(std::move(handover));
                SignalLocked();
                return;
            }
        }
        handover.stream->Gone();
        if (handover.finished) handover.finished(0);
        ::close(handover.fd);
    }

    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            SignalLocked();
        }
        if (thread_.joinable()) thread_.join();
    }

  private:
    struct Connection {
        Handover handover;
        std::string unsent;  // taken from the stream, not yet taken by the socket
        bool last = false;   // `unsent` ends the reply
    };
    using Connections = std::unordered_map<std::uint64_t, std::unique_ptr<Connection>>;

    void SignalLocked() {
        if (signalled_) return;
        signalled_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeUp_, &one, sizeof one);
    }

    // Called under the stream's lock when bytes come for a stream that was idle.
    void Ready(std::uint64_t number) {
        std::lock_guard lock(mutex_);
        ready_.push_back(number);
        SignalLocked();
    }

    void Run() {
        std::array<epoll_event, 256> events{};
        for (;;) {
            const int count =
                ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), -1);
            for (int i = 0; i < count; ++i) {
                const epoll_event& event = events[static_cast<std::size_t>(i)];
                const auto found = connections_.find(event.data.u64);
                if (found == connections_.end()) continue;
                if (event.events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) {
                    // The client has gone: its stream is cut, and the client resumes from what
                    // it has when it comes back.
                    found->second->handover.stream->Cut();
                    Finish(found, false);
                } else {
                    Pump(found);
                }
            }
            std::vector<Handover> arriving;
            std::vector<std::uint64_t> ready;
            bool stopping = false;
            {
                std::lock_guard lock(mutex_);
                arriving.swap(arriving_);
                ready.swap(ready_);
                stopping = stopping_;
                signalled_ = false;
                std::uint64_t signals = 0;
                [[maybe_unused]] const ssize_t read = ::read(wakeUp_, &signals, sizeof signals);
            }
            for (Handover& handover : arriving) Start(std::move(handover));
            for (const std::uint64_t number : ready) {
                const auto found = connections_.find(number);
                if (found != connections_.end()) Pump(found);
            }
            if (stopping) {
                EndAll();
                return;
            }
        }
    }

    void Start(Handover handover) {
        const std::uint64_t number = ++last_;
        const int fd = handover.fd;
        ReplyStream& stream = *handover.stream;
        auto connection = std::make_unique<Connection>();
        connection->unsent = std::move(handover.head);
        connection->last = handover.bodyless;
        connection->handover = std::move(handover);
        stream.OnWake([this, number] { Ready(number); });
        // A cut stream's connection goes at once, with what the kernel still held for it: its
        // client resumes from what it has. The stream is gone before its socket closes.
        stream.OnCut([fd] {
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            ::shutdown(fd, SHUT_RDWR);
        });
        const auto added = connections_.emplace(number, std::move(connection)).first;
        // Edge-triggered: a socket is heard of when it takes bytes again after a full buffer,
        // and when its client hangs up; what the client sends is never read.
        epoll_event watched{};
        watched.events = EPOLLOUT | EPOLLRDHUP | EPOLLET;
        watched.data.u64 = number;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &watched) != 0) {
            stream.Cut();
            Finish(added, false);
            return;
        }
        Pump(added);
    }

    // Writes what the socket takes: what is left of earlier bytes, then the stream's as long as
    // it has any.
    void Pump(Connections::iterator found) {
        Connection& connection = *found->second;
        const Handover& handover = connection.handover;
        std::array<char, kSizeRoom + kBlock + 2> block{};
        for (;;) {
            if (!connection.unsent.empty()) {
                const ssize_t written = ::send(handover.fd, connection.unsent.data(),
                                               connection.unsent.size(), MSG_NOSIGNAL);
                if (written < 0) {
                    if (errno != EAGAIN && errno != EINTR) Finish(found, false);
                    return;
                }
                connection.unsent.erase(0, static_cast<std::size_t>(written));
                if (!connection.unsent.empty()) continue;
                // An idle stream keeps no buffer.
                std::string().swap(connection.unsent);
                if (connection.last) {
                    Finish(found, true);
                    return;
                }
            }
            const std::ptrdiff_t taken =
                handover.stream->Take(block.data() + kSizeRoom, kBlock, [] {});
            if (taken == 0) return;  // asleep until the stream's next bytes wake it
            if (taken == ReplyStream::kCut) {
                Finish(found, false);
                return;
            }
            if (taken == ReplyStream::kOver) {
                // Without chunks, the close is what ends the body.
                if (!handover.chunked) {
                    Finish(found, false);
                    return;
                }
                connection.unsent = "0\r\n\r\n";
                connection.last = true;
                continue;
            }
            char* start = block.data() + kSizeRoom;
            std::size_t size = static_cast<std::size_t>(taken);
            if (handover.chunked) {
                std::array<char, kSizeRoom> line{};
                const int length = std::snprintf(line.data(), line.size(), "%zx\r\n", size);
                start -= length;
                std::memcpy(start, line.data(), static_cast<std::size_t>(length));
                std::memcpy(start + length + size, "\r\n", 2);
                size += static_cast<std::size_t>(length) + 2;
            }
            const ssize_t written = ::send(handover.fd, start, size, MSG_NOSIGNAL);
            if (written < 0 && errno != EAGAIN && errno != EINTR) {
                Finish(found, false);
                return;
            }
            const std::size_t done = written < 0 ? 0 : static_cast<std::size_t>(written);
            if (done < size) {
                // The rest waits for the socket to take bytes again.
                connection.unsent.assign(start + done, size - done);
                return;
            }
        }
    }

    // `whole`: the reply ended as it should, and its connection may carry another request.
    void Finish(Connections::iterator found, bool whole) {
        const std::unique_ptr<Connection> connection = std::move(found->second);
        connections_.erase(found);
        Handover& handover = connection->handover;
        const std::size_t sent = handover.stream->Sent();
        handover.stream->Gone();
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, handover.fd, nullptr);
        if (handover.finished) handover.finished(sent);
        if (whole && handover.reuse && !ending_) {
            handover.reuse(handover.fd);
        } else {
            ::close(handover.fd);
        }
    }

    void EndAll() {
        ending_ = true;
        std::vector<std::uint64_t> numbers;
        for (const auto& [number, connection] : connections_) {
            connection->handover.stream->End();
            numbers.push_back(number);
        }
        for (const std::uint64_t number : numbers) {
            const auto found = connections_.find(number);
            if (found != connections_.end()) Pump(found);
        }
        while (!connections_.empty()) Finish(connections_.begin(), false);
    }

    const int epoll_;
    const int wakeUp_;
    std::mutex mutex_;
    std::vector<Handover> arriving_;
    std::vector<std::uint64_t> ready_;
    bool signalled_ = false;
    bool stopping_ = false;
    // The writer thread's own.
    Connections connections_;
    std::uint64_t last_ = 0;
    bool ending_ = false;
    std::thread thread_;
};

StreamConnections::StreamConnections(unsigned threads) {
    for (unsigned i = 0; i < std::max(threads, 1u); ++i) {
        shards_.push_back(std::make_unique<Shard>());
    }
}

StreamConnections::~StreamConnections() = default;

void StreamConnections::Adopt(Handover handover) {
    shards_[next_++ % shards_.size()]->Adopt(std::move(handover));
}

void StreamConnections::Stop() {
    for (const auto& shard : shards_) shard->Stop();
}

}  // namespace tertulia
