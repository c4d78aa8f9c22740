#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tertulia {

// A fixed set of threads running queued jobs.
class WorkerPool {
  public:
    explicit WorkerPool(unsigned threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Queues the job unless the pool is draining; `accepted` runs first, under the pool's lock,
    // so that nothing the job undoes can happen before it.
    bool Submit(std::function<void()> job, const std::function<void()>& accepted = {});

    // Takes no more jobs and waits until those queued have run.
    void Drain();

  private:
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    std::size_t pending_ = 0;
    bool closed_ = false;
    bool ending_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace tertulia
