#include "service/reply_stream.h"

#include <algorithm>
#include <cstring>

namespace tertulia {

bool ReplyStream::Append(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    if (ended_ || gone_) return false;
    if (pending_.size() - taken_ + bytes.size() > kMaxPending) {
        // A client that does not read is not given memory without end.
        ended_ = true;
        pending_.clear();
        taken_ = 0;
        WakeLocked();
        return false;
    }
    pending_.append(bytes);
    WakeLocked();
    return true;
}

void ReplyStream::End() {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    ended_ = true;
    WakeLocked();
}

bool ReplyStream::Ended() const {
    std::lock_guard lock(mutex_);
    return ended_ || gone_;
}

std::size_t ReplyStream::Sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

std::ptrdiff_t ReplyStream::Take(char* buffer, std::size_t size,
                                 const std::function<void()>& sleep) {
    std::lock_guard lock(mutex_);
    const std::size_t left = pending_.size() - taken_;
    if (left > 0) {
        const std::size_t count = std::min(left, size);
        std::memcpy(buffer, pending_.data() + taken_, count);
        taken_ += count;
        sent_ += count;
        if (taken_ == pending_.size()) {
            // An idle stream keeps no buffer.
            std::string().swap(pending_);
            taken_ = 0;
        }
        return static_cast<std::ptrdiff_t>(count);
    }
    if (ended_ || gone_) return kOver;
    asleep_ = true;
    sleep();
    return 0;
}

void ReplyStream::OnWake(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

void ReplyStream::Gone() {
    std::lock_guard lock(mutex_);
    gone_ = true;
    asleep_ = false;
    wake_ = nullptr;
    std::string().swap(pending_);
    taken_ = 0;
}

void ReplyStream::WakeLocked() {
    if (!asleep_ || !wake_) return;
    asleep_ = false;
    wake_();
}

}  // namespace tertulia
