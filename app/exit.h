#pragma once

// The one way out of the program. Prints the message to standard error, releases every buffer the
// program owns (each only if present), runs the platform shutdown hook (SDL_Quit in the viewer),
// prints the closing line and ends the process with the status.
[[noreturn]] void exit_program(int status, const char* message, ...)
    __attribute__((format(printf, 2, 3)));

// Called by exit_program between releasing the buffers and the closing line. The viewer sets it
// to SDL_Quit at start-up; null elsewhere.
extern void (*platform_shutdown)();

// Releases everything the program owns: camera, work images, the viewer's data set (minimap, base
// textures, tile sets), frame buffer. Safe at any point; leaves every reference null.
void release_program_data();
