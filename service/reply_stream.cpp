#include "service/reply_stream.h"

#include <algorithm>
#include <cstring>

namespace tertulia {

bool StreamBudget::Reserve(std::size_t bytes) {
    std::size_t used = used_.load();
    do {
        if (used + bytes > cap_) return false;
    } while (!used_.compare_exchange_weak(used, used + bytes));
    return true;
}

void StreamBudget::Release(std::size_t bytes) {
    used_ -= bytes;
    released_ += bytes;
}

ReplyStream::~ReplyStream() {
    std::lock_guard lock(mutex_);
    ReleaseLocked();
}

bool ReplyStream::Append(std::string bytes) {
    std::lock_guard lock(mutex_);
    if (ended_ || gone_) return false;
    if (bytes.empty()) return true;
    // A client that does not read is not given memory without end, nor are all of them.
    if (held_ + bytes.size() > kMaxPending || (budget_ && !budget_->Reserve(bytes.size()))) {
        CutLocked();
        return false;
    }
    if (held_ == taken_) progress_ = Clock::now();
    held_ += bytes.size();
    pieces_.push_back(std::move(bytes));
    WakeLocked();
    return true;
}

void ReplyStream::End() {
    std::lock_guard lock(mutex_);
    if (ended_) return;
    ended_ = true;
    WakeLocked();
}

void ReplyStream::Cut() {
    std::lock_guard lock(mutex_);
    CutLocked();
}

bool ReplyStream::CutIfStalled(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (cut_ || gone_ || held_ == taken_ || now - progress_ < kStallLimit) return false;
    CutLocked();
    return true;
}

bool ReplyStream::Ended() const {
    std::lock_guard lock(mutex_);
    return ended_ || gone_;
}

std::size_t ReplyStream::Sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

std::size_t ReplyStream::Pending() const {
    std::lock_guard lock(mutex_);
    return held_ - taken_;
}

void ReplyStream::OnDrained(std::function<void()> drained) {
    std::lock_guard lock(mutex_);
    drained_ = std::move(drained);
}

std::ptrdiff_t ReplyStream::Take(char* buffer, std::size_t size,
                                 const std::function<void()>& sleep) {
    std::function<void()> drained;
    std::ptrdiff_t result = 0;
    {
        std::lock_guard lock(mutex_);
        if (cut_) return kCut;
        if (held_ == taken_) {
            if (ended_ || gone_) return kOver;
            asleep_ = true;
            sleep();
            return 0;
        }
        std::size_t count = 0;
        while (count < size && first_ < pieces_.size()) {
            std::string& piece = pieces_[first_];
            const std::size_t part = std::min(piece.size() - taken_, size - count);
            std::memcpy(buffer + count, piece.data() + taken_, part);
            count += part;
            taken_ += part;
            if (taken_ < piece.size()) break;
            const std::size_t freed = piece.size();
            std::string().swap(piece);
            ++first_;
            held_ -= freed;
            taken_ = 0;
            if (budget_) budget_->Release(freed);
        }
        sent_ += count;
        progress_ = Clock::now();
        // An idle stream keeps no buffer.
        if (first_ == pieces_.size()) {
            std::vector<std::string>().swap(pieces_);
            first_ = 0;
            drained = drained_;
        } else if (first_ >= 64 && first_ * 2 >= pieces_.size()) {
            // A stream that is never quite drained drops the slots of the pieces taken.
            pieces_.erase(pieces_.begin(), pieces_.begin() + static_cast<std::ptrdiff_t>(first_));
            first_ = 0;
        }
        result = static_cast<std::ptrdiff_t>(count);
    }
    if (drained) drained();
    return result;
}

void ReplyStream::OnWake(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

void ReplyStream::OnCut(std::function<void()> cut) {
    std::lock_guard lock(mutex_);
    cutConnection_ = std::move(cut);
}

void ReplyStream::Gone() {
    std::lock_guard lock(mutex_);
    gone_ = true;
    asleep_ = false;
    wake_ = nullptr;
    cutConnection_ = nullptr;
    drained_ = nullptr;
    ReleaseLocked();
}

void ReplyStream::WakeLocked() {
    if (!asleep_ || !wake_) return;
    asleep_ = false;
    wake_();
}

void ReplyStream::ReleaseLocked() {
    if (budget_ && held_ > 0) budget_->Release(held_);
    std::vector<std::string>().swap(pieces_);
    first_ = 0;
    held_ = 0;
    taken_ = 0;
}

void ReplyStream::CutLocked() {
    if (cut_ || gone_) return;
    cut_ = true;
    ended_ = true;
    ReleaseLocked();
    if (cutConnection_) cutConnection_();
    WakeLocked();
}

}  // namespace tertulia
