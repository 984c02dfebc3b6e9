#pragma once
#include <cstdio>

// Where the loaders print their progress lines (the loading log), and where the viewer's exit
// routine prints its closing lines (app/console.h names the same stream). The viewer keeps
// standard output; the headless tool points it at standard error or at a null stream so that its
// own standard output stays clean. Written once at start-up by main() of each binary.
extern FILE* console_out;
