#include "render/worker_pool.h"

#include <sched.h>

WorkerPool::WorkerPool(int threads) {
    for (int slot = 1; slot < threads; ++slot)
        workers_.emplace_back([this, slot] { worker_main(slot); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
}

void WorkerPool::take_indices(const std::function<void(int, int)>* job, int count, int slot) {
    for (int i = next_.fetch_add(1); i < count; i = next_.fetch_add(1)) (*job)(i, slot);
}

void WorkerPool::run(int count, const std::function<void(int, int)>& job) {
    if (count <= 0) return;
    if (workers_.empty() || count == 1) {
        for (int i = 0; i < count; ++i) job(i, 0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &job;
        count_ = count;
        next_.store(0);
        job_running_ = true;
        ++generation_;
    }
    wake_.notify_all();
    take_indices(&job, count, 0);
    std::unique_lock<std::mutex> lock(mutex_);
    // Every index has been taken; wait for the workers still running theirs.
    done_.wait(lock, [this] { return busy_ == 0; });
    job_running_ = false;
    job_ = nullptr;
    const bool idle = idle_pending_;
    lock.unlock();
    if (idle) wake_.notify_all();
}

void WorkerPool::worker_main(int slot) {
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] {
            return stop_ || (job_running_ && generation_ != seen) ||
                   (!job_running_ && idle_pending_ && idle_ && !idle_closing_);
        });
        if (stop_) return;
        if (job_running_ && generation_ != seen) {
            // The job and its size are read together with the generation: the caller cannot
            // return (and end the job) while this worker is counted in busy_.
            seen = generation_;
            const auto* job = job_;
            const int count = count_;
            ++busy_;
            lock.unlock();
            take_indices(job, count, slot);
            lock.lock();
            if (--busy_ == 0) done_.notify_all();
            continue;
        }
        // Idle work, one step at a time; a job that starts meanwhile waits for this step only.
        std::function<bool(int)> step = idle_;
        ++idle_busy_;
        lock.unlock();
        const bool more = step(slot);
        lock.lock();
        if (--idle_busy_ == 0) done_.notify_all();
        if (!more) idle_pending_ = false;
    }
}

void WorkerPool::set_idle_work(std::function<bool(int)> step) {
    std::unique_lock<std::mutex> lock(mutex_);
    // No new step may start while the ones in progress end: a worker whose step returns true
    // would otherwise start the next one at once, and with two or more workers the count of
    // steps in progress might never be seen at zero.
    idle_closing_ = true;
    done_.wait(lock, [this] { return idle_busy_ == 0; });
    idle_closing_ = false;
    idle_ = std::move(step);
    idle_pending_ = bool(idle_);
    lock.unlock();
    wake_.notify_all();
}

void WorkerPool::wake_idle() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!idle_) return;
        idle_pending_ = true;
    }
    wake_.notify_all();
}

int available_cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? int(n) : 1;
}
