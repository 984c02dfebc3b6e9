#include "builder/strip_reader.h"

#include <algorithm>

#include "builder/builder.h"

namespace builder {

StripReader::StripReader(RowSource& source, uint32_t rows, size_t stride, int ahead)
    : source_(source),
      rows_(rows),
      stride_(stride),
      bytes_(stride * std::min(rows, source.height())) {
    for (int i = 0; i < std::max(1, ahead); ++i) empty_.emplace_back(bytes_);
    thread_ = std::thread([this] { run(); });
}

StripReader::~StripReader() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void StripReader::run() {
    const uint32_t height = source_.height();
    for (uint32_t y0 = 0; y0 < height; y0 += rows_) {
        std::vector<uint8_t> buffer;
        {
            std::unique_lock<std::mutex> lock(mu_);
            changed_.wait(lock, [&] { return stop_ || !empty_.empty(); });
            if (stop_) return;
            buffer = std::move(empty_.front());
            empty_.pop_front();
        }
        try {
            if (interrupt_requested.load(std::memory_order_relaxed)) throw BuildInterrupted();
            buffer.resize(bytes_);
            source_.rows(y0, std::min(rows_, height - y0), buffer.data(), stride_);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mu_);
            error_ = std::current_exception();
            changed_.notify_all();
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            full_.push_back(std::move(buffer));
        }
        changed_.notify_all();
    }
}

void StripReader::next(std::vector<uint8_t>& strip) {
    std::unique_lock<std::mutex> lock(mu_);
    changed_.wait(lock, [&] { return !full_.empty() || error_; });
    // Strips read before a failure are still handed out in order; the failure comes after them.
    if (full_.empty()) std::rethrow_exception(error_);
    strip.swap(full_.front());
    empty_.push_back(std::move(full_.front()));  // the caller's old buffer
    full_.pop_front();
    lock.unlock();
    changed_.notify_all();
}

}  // namespace builder
