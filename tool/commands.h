#pragma once
#include <CLI/CLI.hpp>

// Each group of subcommands registers itself on the tool's app. A subcommand's callback stores
// its exit status in tool_status (0 success, 1 failure).
extern int tool_status;
void register_render_commands(CLI::App& app);   // render
void register_bench_command(CLI::App& app);     // bench
void register_dataset_commands(CLI::App& app);  // build, import, verify
