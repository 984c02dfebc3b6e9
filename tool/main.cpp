// quorvik-tool: makes, renders, verifies and benchmarks QUORVIK data sets from the command line,
// using the viewer's own library code.
#include <cstdio>
#include "app/console.h"
#include "app/version.h"
#include "tool/commands.h"

int tool_status = 0;

int main(int argc, char** argv) {
    // The tool's standard output belongs to its results; progress and loading lines go to
    // standard error.
    console_out = stderr;
    CLI::App app{"quorvik-tool: build, import, verify, render and benchmark QUORVIK data sets"};
    app.set_version_flag("--version", std::string("quorvik-tool ") + kQuorvikVersion);
    app.require_subcommand(1);
    register_render_commands(app);
    register_bench_command(app);
    register_dataset_commands(app);
    CLI11_PARSE(app, argc, argv);
    fflush(stdout);
    return tool_status;
}
