#pragma once
// Progress of a long job on standard error: a bar redrawn in place on a terminal, a plain line at
// every 5 % otherwise (logs, CI). Thread-safe.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace builder {

class Progress {
  public:
    // `enabled` false prints nothing (tests); `terminal` chooses the bar.
    Progress(int64_t total, bool enabled, bool terminal);
    void set_stage(const std::string& stage);
    void advance(int64_t units);
    // Ends the bar's line on a terminal.
    void finish();
    double seconds() const;

  private:
    void draw(int64_t done, bool force);

    int64_t total_;
    bool enabled_, terminal_;
    std::atomic<int64_t> done_{0};
    std::mutex mu_;
    std::string stage_;
    int last_percent_ = -1;
    int last_tenths_ = -1;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace builder
