#include "service/password_checks.h"

namespace tertulia {

bool PasswordChecks::Run(const std::function<void()>& check) {
    {
        std::unique_lock lock(mutex_);
        if (issued_ - begun_ >= kWaiting) return false;
        const std::uint64_t turn = issued_++;
        changed_.wait(lock, [&] { return turn == begun_ && running_ < kRunning; });
        ++begun_;
        ++running_;
    }
    // The next in line may start too when two places are free.
    changed_.notify_all();
    struct Turn {
        PasswordChecks& checks;
        ~Turn() { checks.Leave(); }
    } turn{*this};
    check();
    return true;
}

void PasswordChecks::Leave() {
    {
        std::lock_guard lock(mutex_);
        --running_;
    }
    changed_.notify_all();
}

}  // namespace tertulia
