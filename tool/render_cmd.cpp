// Placeholder until headless rendering lands.
#include "tool/commands.h"
void register_render_commands(CLI::App&) {}
