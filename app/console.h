#pragma once
#include <cstdio>

// Where loading progress and the exit routine's closing lines go. The viewer keeps standard
// output; the headless tool points it at standard error or at a null stream so that its own
// standard output stays clean. Written once at start-up by main() of each binary.
extern FILE* console_out;
