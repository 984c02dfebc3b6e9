#pragma once
#include <cstddef>
#include <cstdint>

// Milliseconds the frame limiter sleeps after a frame that started at `frame_start` and ended at
// `now`: the budget is 1000 / fps (integer division); a frame that used it up gets no delay.
uint32_t limiter_delay(int32_t limit_fps, int32_t fps, uint32_t frame_start, uint32_t now);

// Caption schedule: the counter starts at 7; returns true (and resets it) on frames that show a
// new figure, which are the second frame and every ninth frame after it.
bool caption_due(int& caption_counter);

// Writes prefix followed by the rate of one frame of `elapsed_ms` ("%6.2f" of 1000 / elapsed).
void format_caption(char* out, size_t size, const char* prefix, uint32_t elapsed_ms);
