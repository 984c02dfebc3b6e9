#pragma once
// The render engine's threads: the caller plus threads - 1 workers. run() spreads the indices of
// one job over all of them and returns when every index is done; between jobs the workers may
// run idle work (filling the tile cache ahead of a flight), one short step at a time, so that a
// job never waits for more than one step.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
  public:
    // threads >= 1 (1: no worker threads, everything runs in the caller).
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int threads() const { return int(workers_.size()) + 1; }

    // Calls job(i, slot) once for every i in [0, count); slot is the number of the thread running
    // it (0 for the caller, 1 .. threads - 1 for the workers), so per-thread scratch can be
    // indexed by it. Returns when all calls have returned. Not reentrant: one caller at a time.
    void run(int count, const std::function<void(int i, int slot)>& job);

    // Idle work: while no job runs, each worker calls step(slot) again and again as long as it
    // returns true, then sleeps until wake_idle() or the next job. step runs on worker threads
    // only and must keep each call short. An empty function removes the idle work (waiting for
    // steps in progress to end).
    void set_idle_work(std::function<bool(int slot)> step);
    void wake_idle();

  private:
    void worker_main(int slot);
    void take_indices(const std::function<void(int, int)>* job, int count, int slot);

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;  // workers wait here
    std::condition_variable done_;  // the caller waits here
    bool stop_ = false;
    uint64_t generation_ = 0;  // one per job
    const std::function<void(int, int)>* job_ = nullptr;
    int count_ = 0;
    std::atomic<int> next_{0};
    int busy_ = 0;  // workers inside the current job
    bool job_running_ = false;
    std::function<bool(int)> idle_;
    bool idle_pending_ = false;
    int idle_busy_ = 0;          // workers inside an idle step
    bool idle_closing_ = false;  // set_idle_work is waiting for the steps in progress
};

// The number of processors this process may run on (at least 1).
int available_cores();
