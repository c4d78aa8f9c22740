#include "service/worker_pool.h"

#include <algorithm>

namespace tertulia {

WorkerPool::WorkerPool(unsigned threads) {
    for (unsigned i = 0; i < std::max(threads, 1u); ++i) {
        threads_.emplace_back([this] { Run(); });
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        ending_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

bool WorkerPool::Submit(std::function<void()> job, const std::function<void()>& accepted) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        if (accepted) accepted();
        jobs_.push_back(std::move(job));
        ++pending_;
    }
    changed_.notify_one();
    return true;
}

void WorkerPool::Drain() {
    std::unique_lock lock(mutex_);
    closed_ = true;
    changed_.wait(lock, [&] { return pending_ == 0; });
}

void WorkerPool::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return ending_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
        if (--pending_ == 0) changed_.notify_all();
    }
}

}  // namespace tertulia
