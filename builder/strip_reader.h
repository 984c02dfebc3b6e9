#pragma once
// Reads a row source's strips on a thread of its own, a few strips ahead of the one being coded,
// so that a source that decodes serially (a JPEG) never waits for the coders, nor they for it.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "builder/row_source.h"

namespace builder {

class StripReader {
  public:
    // Strips of `rows` rows (the last one shorter), `stride` bytes a row, at most `ahead` of
    // them read before they are taken.
    StripReader(RowSource& source, uint32_t rows, size_t stride, int ahead);
    ~StripReader();  // stops reading and waits for the thread
    StripReader(const StripReader&) = delete;
    StripReader& operator=(const StripReader&) = delete;

    // The next strip, swapped into `strip` (whose old buffer the reader takes back). Rethrows
    // what the source threw, or BuildInterrupted when builder::interrupt_requested was set.
    void next(std::vector<uint8_t>& strip);

  private:
    void run();

    RowSource& source_;
    const uint32_t rows_;
    const size_t stride_;
    const size_t bytes_;  // of a strip
    std::mutex mu_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> full_, empty_;
    std::exception_ptr error_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above is set up
};

}  // namespace builder
