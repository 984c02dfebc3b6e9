#include "app/frame_timing.h"

#include <cstdio>

uint32_t limiter_delay(int32_t limit_fps, int32_t fps, uint32_t frame_start, uint32_t now) {
    if (!limit_fps || fps <= 0) return 0;
    const int32_t budget = 1000 / fps;
    const int32_t elapsed = int32_t(now - frame_start);
    return elapsed < budget ? uint32_t(budget - elapsed) : 0;
}

bool caption_due(int& caption_counter) {
    if (caption_counter < 8) {
        ++caption_counter;
        return false;
    }
    caption_counter = 0;
    return true;
}

void format_caption(char* out, size_t size, const char* prefix, uint32_t elapsed_ms) {
    // A 0 ms frame gives an infinite rate, printed the way the C library prints infinity.
    const double rate = (1.0 / double(elapsed_ms)) * 1000.0;
    snprintf(out, size, "%s%6.2f", prefix, rate);
}
