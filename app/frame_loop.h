#pragma once

// Caption state, built by main() at start-up and updated by the frame loop.
extern const char* const kIconTitle;
extern char title_prefix[160];
extern char caption_text[192];
extern int caption_counter;

// The endless frame loop; leaves only through exit_program.
[[noreturn]] void run_frame_loop();
