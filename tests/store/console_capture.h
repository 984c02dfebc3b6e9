#pragma once
// Collects what the loading code writes to console_out while the capture lives. With
// `with_stderr`, console_out is pointed at standard error for that time, so that gtest's stderr
// capture sees both streams in the order they were written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/console.h"

class ConsoleCapture {
  public:
    explicit ConsoleCapture(bool with_stderr = false) : saved_(console_out), merged_(with_stderr) {
        if (merged_) {
            console_out = stderr;
            ::testing::internal::CaptureStderr();
        } else {
            console_out = open_memstream(&buf_, &len_);
        }
    }
    ~ConsoleCapture() { finish(); }

    // Stops capturing and returns everything written.
    std::string text() {
        finish();
        return text_;
    }

  private:
    void finish() {
        if (done_) return;
        done_ = true;
        if (merged_) {
            text_ = ::testing::internal::GetCapturedStderr();
        } else {
            fclose(console_out);
            text_.assign(buf_, len_);
            free(buf_);
        }
        console_out = saved_;
    }

    FILE* saved_;
    bool merged_;
    bool done_ = false;
    char* buf_ = nullptr;
    size_t len_ = 0;
    std::string text_;
};
