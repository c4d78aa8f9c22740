#include "http/reply_pace.h"

namespace tertulia {

void ReplyPace::StartHead() {
    inBody_ = false;
    deadline_ = Clock::now() + limits_.headWithin;
}

void ReplyPace::StartBody(std::size_t buffered) {
    inBody_ = true;
    bodyBytesInWindow_ = 0;
    deadline_ = Clock::now() + limits_.bodyWindow;
    Received(buffered);
}

void ReplyPace::Received(std::size_t count) {
    if (!inBody_) return;
    bodyBytesInWindow_ += count;
    if (bodyBytesInWindow_ < limits_.bodyBytes) return;
    bodyBytesInWindow_ = 0;
    deadline_ = Clock::now() + limits_.bodyWindow;
}

std::size_t PacedSource::Receive(char* buffer, std::size_t capacity) {
    const std::size_t received = connection_.ReceiveBefore(buffer, capacity, pace_.Deadline());
    pace_.Received(received);
    return received;
}

}  // namespace tertulia
