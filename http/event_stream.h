#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "http/chunked_decoder.h"
#include "http/event_stream_parser.h"
#include "http/transport.h"

namespace tertulia {

// One Server-Sent Events stream: a GET whose connection is made as the client's are (the connect,
// and for "https" the verified handshake, bounded by the connect time-out), then read only as its
// bytes arrive, never waiting for them. Failures throw as the client's do.
class EventStream {
  public:
    enum class Progress {
        Waiting,    // all that had arrived is read; the stream goes on
        More,       // more may be there already: read again soon, after other work
        Ended,      // the peer ended the stream
        NotStream,  // the reply is a successful one, but no event stream
    };

    // Connects and sends the request. `secure` carries an "https" address; without it such an
    // address is refused.
    EventStream(const std::string& url, const SecureTransportFactory& secure,
                std::chrono::milliseconds connectTimeout);
    ~EventStream();
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    // The descriptor to wait on for the next bytes.
    int Descriptor() const { return transport_->Descriptor(); }

    // Reads what is there, a bounded amount at a time, and appends the events it completes. A
    // reply whose status is not a success throws its status line.
    Progress ReadAvailable(std::vector<ServerEvent>& events);
    // Whether the reply's head has said that it is an event stream.
    bool Answered() const { return inBody_; }

    static constexpr std::size_t kMaxHeadLength = 65536;
    static constexpr std::size_t kReadBudget = 262144;  // bytes read in one call at most

  private:
    // Takes the head once it is whole, and the body bytes after it; an outcome only when the
    // reading ends there.
    std::optional<Progress> TakeHead(std::vector<ServerEvent>& events);
    // Passes body bytes on; false once the body has ended.
    bool TakeBody(std::string_view bytes, std::vector<ServerEvent>& events);

    std::unique_ptr<Transport> transport_;
    std::string head_;  // the reply head as it arrives
    bool inBody_ = false;
    bool chunked_ = false;
    ChunkedDecoder chunks_;
    EventStreamParser parser_;
};

}  // namespace tertulia
