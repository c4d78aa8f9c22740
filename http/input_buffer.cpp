#include "http/input_buffer.h"

#include <cstring>
#include <stdexcept>

#include "http/http_errors.h"

namespace tertulia {

std::optional<std::string> InputBuffer::ReadLine() {
    for (;;) {
        const std::size_t searchEnd = std::min(Buffered(), kMaxLineLength + 1);
        const void* lf = searchEnd > scanned_ ? std::memchr(buffer_.data() + start_ + scanned_,
                                                            '\n', searchEnd - scanned_)
                                              : nullptr;
        if (lf != nullptr) {
            const std::size_t length = static_cast<const char*>(lf) - (buffer_.data() + start_);
            std::string line(buffer_.data() + start_, length);
            start_ += length + 1;
            scanned_ = 0;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        scanned_ = searchEnd;
        if (Buffered() > kMaxLineLength) throw std::runtime_error(kMaxLineLengthExceeded);
        if (!ReceiveSome(kReceiveBlock)) {
            // An unfinished line at the close is no line, and never the start of a body.
            Take(Buffered());
            return std::nullopt;
        }
    }
}

void InputBuffer::Fill(std::size_t count) {
    while (Buffered() < count && ReceiveSome(count - Buffered())) {
    }
}

std::string_view InputBuffer::Take(std::size_t count) {
    count = std::min(count, Buffered());
    std::string_view bytes(buffer_.data() + start_, count);
    start_ += count;
    scanned_ = 0;
    return bytes;
}

bool InputBuffer::ReceiveSome(std::size_t count) {
    if (peerClosed_) return false;
    if (start_ == end_) start_ = end_ = 0;
    if (start_ > 0 && buffer_.size() - end_ < count) {
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    if (buffer_.size() - end_ < count) buffer_.resize(end_ + count);
    const std::size_t received = source_.Receive(buffer_.data() + end_, count);
    if (received == 0) {
        peerClosed_ = true;
        return false;
    }
    end_ += received;
    return true;
}

}  // namespace tertulia
