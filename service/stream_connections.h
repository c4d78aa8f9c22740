#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/reply_stream.h"

namespace tertulia {

// The connections of streamed replies once their request is answered, served on sockets of
// their own: the HTTP library gives every connection a buffer the size of the largest request
// head for as long as it lives, which thousands of held streams would keep for nothing. A few
// threads each watch their share of the sockets with epoll: a stream's bytes are written as they
// come (chunked), a client's hang-up ends its stream at once, and an idle stream holds no buffer
// and costs no thread. No lock is held while a socket is written.
class StreamConnections {
  public:
    // One connection handed over, with the reply's head still to be written.
    struct Handover {
        int fd = -1;  // owned from here on
        std::shared_ptr<ReplyStream> stream;
        std::string head;
        bool chunked = true;    // false: the body's end is the connection's close
        bool bodyless = false;  // the answer to a HEAD request: the head alone
        // Takes the socket back when the reply ended whole and the connection may carry another
        // request; the socket is closed when this is empty.
        std::function<void(int fd)> reuse;
        // Told once the connection is done with, with the body's bytes sent; on a writer thread.
        std::function<void(std::size_t sent)> finished;
    };

    explicit StreamConnections(unsigned threads);
    ~StreamConnections();
    StreamConnections(const StreamConnections&) = delete;
    StreamConnections& operator=(const StreamConnections&) = delete;

    // From any thread; after Stop, the connection is closed at once.
    void Adopt(Handover handover);
    // Ends every stream: what the socket takes at once of its end is written, and it is closed.
    void Stop();

  private:
    class Shard;
    std::vector<std::unique_ptr<Shard>> shards_;
    std::atomic<std::size_t> next_ = 0;  // picks the shard of the next connection
};

}  // namespace tertulia
