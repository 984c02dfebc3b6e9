#include "builder/progress.h"

#include <cstdio>

namespace builder {

Progress::Progress(int64_t total, bool enabled, bool terminal)
    : total_(total > 0 ? total : 1),
      enabled_(enabled),
      terminal_(terminal),
      start_(std::chrono::steady_clock::now()) {}

double Progress::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::set_stage(const std::string& stage) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stage_ = stage;
    }
    draw(done_.load(), true);
}

void Progress::advance(int64_t units) {
    draw(done_.fetch_add(units) + units, false);
}

void Progress::draw(int64_t done, bool force) {
    if (!enabled_) return;
    if (done > total_) done = total_;
    const int tenths = int(done * 1000 / total_);
    std::unique_lock<std::mutex> lock(mu_, std::try_to_lock);
    if (!lock.owns_lock()) {
        if (!force) return;  // another thread is drawing; the next advance redraws
        lock.lock();
    }
    const double secs = seconds();
    if (terminal_) {
        if (!force && tenths == last_tenths_) return;
        last_tenths_ = tenths;
        const int width = 30, filled = int(done * width / total_);
        std::string bar(size_t(filled), '#');
        bar.append(size_t(width - filled), '.');
        fprintf(stderr, "\r[%s] %5.1f%%  %4.0fs  %-28s", bar.c_str(), tenths / 10.0, secs,
                stage_.c_str());
        fflush(stderr);
    } else {
        const int percent = tenths / 10;
        if (percent / 5 == last_percent_ / 5 && last_percent_ >= 0) return;
        last_percent_ = percent;
        fprintf(stderr, "progress: %3d%%  %4.0fs  %s\n", percent, secs, stage_.c_str());
    }
}

void Progress::finish() {
    if (!enabled_) return;
    draw(total_, true);
    if (terminal_) fprintf(stderr, "\n");
}

}  // namespace builder
