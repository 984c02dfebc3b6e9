#include "app/exit.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "app/console.h"

void (*platform_shutdown)() = nullptr;

void exit_program(int status, const char* message, ...) {
    va_list args;
    va_start(args, message);
    vfprintf(stderr, message, args);
    va_end(args);
    fflush(stderr);
    fputs("\n", console_out);
    release_program_data();
    if (platform_shutdown) platform_shutdown();
    fputs("\n\tcleaned up successfully\n", console_out);
    fflush(console_out);
    exit(status);
}
