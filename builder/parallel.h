#pragma once
// A small worker pool for the builder's data-parallel loops. Work is handed out by index; every
// result is stored by index, never in completion order, so the output does not depend on the
// number of threads.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace builder {

class Pool {
  public:
    explicit Pool(int threads);
    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    int threads() const { return int(workers_.size()) + 1; }

    // Runs fn(i) for i = 0..n-1 on all threads (the caller's included) and returns when every
    // call has finished. The first exception thrown by fn is rethrown here after the others
    // have stopped taking work.
    void run(int64_t n, const std::function<void(int64_t)>& fn);

  private:
    void worker_loop();
    void drain();

    std::vector<std::thread> workers_;
    std::mutex mu_;
    std::condition_variable wake_, done_;
    const std::function<void(int64_t)>* fn_ = nullptr;
    int64_t n_ = 0;
    std::atomic<int64_t> next_{0};
    int busy_ = 0;
    uint64_t generation_ = 0;
    bool quit_ = false;
    std::exception_ptr error_;
    std::atomic<bool> failed_{false};
};

}  // namespace builder
