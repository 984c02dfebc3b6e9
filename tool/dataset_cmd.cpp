// Placeholder until the data set builder lands.
#include "tool/commands.h"
void register_dataset_commands(CLI::App&) {}
