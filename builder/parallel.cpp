#include "builder/parallel.h"

namespace builder {

Pool::Pool(int threads) {
    for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { worker_loop(); });
}

Pool::~Pool() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        quit_ = true;
    }
    wake_.notify_all();
    for (auto& t : workers_) t.join();
}

void Pool::drain() {
    for (;;) {
        if (failed_.load(std::memory_order_relaxed)) return;
        const int64_t i = next_.fetch_add(1);
        if (i >= n_) return;
        try {
            (*fn_)(i);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mu_);
            if (!error_) error_ = std::current_exception();
            failed_ = true;
        }
    }
}

void Pool::worker_loop() {
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mu_);
            wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
            if (quit_) return;
            seen = generation_;
            ++busy_;
        }
        drain();
        {
            std::lock_guard<std::mutex> lock(mu_);
            --busy_;
        }
        done_.notify_all();
    }
}

void Pool::run(int64_t n, const std::function<void(int64_t)>& fn) {
    if (n <= 0) return;
    {
        std::lock_guard<std::mutex> lock(mu_);
        fn_ = &fn;
        n_ = n;
        next_ = 0;
        error_ = nullptr;
        failed_ = false;
        ++generation_;
    }
    wake_.notify_all();
    drain();
    {
        // Wait until every index has been taken and every worker has left this round.
        std::unique_lock<std::mutex> lock(mu_);
        done_.wait(lock, [&] { return busy_ == 0 && (next_.load() >= n_ || failed_); });
        fn_ = nullptr;
    }
    if (error_) std::rethrow_exception(error_);
}

}  // namespace builder
