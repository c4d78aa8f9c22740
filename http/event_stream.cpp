#include "http/event_stream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "http/ascii_text.h"
#include "http/http_errors.h"
#include "http/input_buffer.h"
#include "http/reply_head.h"
#include "http/request_head.h"
#include "http/tcp_connection.h"
#include "http/url_parts.h"

namespace tertulia {

namespace {

// A head already received, read as the client reads heads.
class HeadBytes : public ByteSource {
  public:
    explicit HeadBytes(std::string_view bytes) : bytes_(bytes) {}
    std::size_t Receive(char* buffer, std::size_t capacity) override {
        const std::size_t count = std::min(capacity, bytes_.size());
        std::memcpy(buffer, bytes_.data(), count);
        bytes_.remove_prefix(count);
        return count;
    }

  private:
    std::string_view bytes_;
};

// Where the head in `bytes` ends (after its empty line), or npos while it is not whole.
std::size_t HeadEnd(std::string_view bytes) {
    const std::size_t crlf = bytes.find("\r\n\r\n");
    const std::size_t lf = bytes.find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos) return std::string::npos;
    return crlf < lf ? crlf + 4 : lf + 2;
}

bool IsEventStream(const ReplyHead& head) {
    return LowerCase(TrimBlanks(head.Value("Content-Type"))).rfind("text/event-stream", 0) == 0;
}

}  // namespace

EventStream::EventStream(const std::string& url, const SecureTransportFactory& secure,
                         std::chrono::milliseconds connectTimeout) {
    const UrlParts parts = SplitUrl(url, static_cast<bool>(secure));
    const auto deadline = std::chrono::steady_clock::now() + connectTimeout;
    auto socket =
        std::make_unique<TcpConnection>(parts.host, parts.port, connectTimeout, connectTimeout);
    transport_ =
        IsHttps(parts) ? secure(std::move(socket), parts.host, deadline) : std::move(socket);
    transport_->Send(BuildRequestHead(parts, {}));
}

EventStream::~EventStream() = default;

EventStream::Progress EventStream::ReadAvailable(std::vector<ServerEvent>& events) {
    std::array<char, 16384> buffer;
    for (std::size_t budget = kReadBudget; budget > 0;) {
        const auto received =
            transport_->ReceiveAvailable(buffer.data(), std::min(buffer.size(), budget));
        if (!received) return Progress::Waiting;
        if (*received == 0) return Progress::Ended;
        budget -= *received;
        std::string_view bytes(buffer.data(), *received);
        if (!inBody_) {
            head_ += bytes;
            if (const std::optional<Progress> outcome = TakeHead(events)) return *outcome;
            continue;
        }
        if (!TakeBody(bytes, events)) return Progress::Ended;
    }
    return Progress::More;
}

std::optional<EventStream::Progress> EventStream::TakeHead(std::vector<ServerEvent>& events) {
    for (;;) {
        const std::size_t end = HeadEnd(head_);
        if (end == std::string::npos) {
            if (head_.size() > kMaxHeadLength) throw std::runtime_error(kMaxLineLengthExceeded);
            return std::nullopt;
        }
        HeadBytes source(std::string_view(head_).substr(0, end));
        InputBuffer reader(source);
        const ReplyHead head = ReadReplyHead(reader);
        std::string rest = head_.substr(end);
        head_ = std::move(rest);
        if (head.statusCode >= 100 && head.statusCode < 200) continue;  // the real head follows
        if (!head.IsSuccess()) throw HttpProtocolError(head.statusLine, head.statusCode, {});
        if (!IsEventStream(head)) return Progress::NotStream;
        inBody_ = true;
        chunked_ = LowerCase(head.Value("Transfer-Encoding")).find("chunked") != std::string::npos;
        const std::string body = std::move(head_);
        head_.clear();
        if (!TakeBody(body, events)) return Progress::Ended;
        return std::nullopt;
    }
}

bool EventStream::TakeBody(std::string_view bytes, std::vector<ServerEvent>& events) {
    if (!chunked_) {
        parser_.Feed(bytes, events);
        return true;
    }
    std::string data;
    const bool goesOn = chunks_.Feed(bytes, data);
    parser_.Feed(data, events);
    return goesOn;
}

}  // namespace tertulia
