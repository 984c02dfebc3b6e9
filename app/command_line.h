#pragma once
// The viewer's command line: quorvik [OPTIONS] [DIR]. Our options are read here; the toolkit's
// own options (--display, --sync, --gtk-module, ...) are set aside unchanged for GTK's
// initialisation. Parsing touches neither the file system nor the display.
#include <string>
#include <vector>

#include "render/picture.h"

// Everything the command line sets, held by main for the whole run.
struct ViewerOptions {
    // The folder or file the user named (empty without DIR) and what it resolves to: the
    // ezw_data folder (kDefaultDataFolder without DIR), or a one-file picture (NAME.qvk).
    bool has_dir = false;
    std::string dir;
    std::string data_folder;
    std::string picture_file;
    StartView view;
    int threads = 0;     // worker threads for making tiles; 0 = one per core
    int cache_mb = 256;  // tile cache budget in MiB; 0 turns the cache off
    // The toolkit's options in the order given, each value kept in its original form, preceded by
    // the program name: the argument vector GTK's initialisation receives.
    std::vector<std::string> toolkit_args;
    // The value of the toolkit's --display option, if given: the drawing window opens there too.
    std::string display;
};

// What main does after parsing.
enum class CommandLineAction {
    kRun,         // open the viewer with the options
    kHelp,        // print usage_text() on standard output, exit 0
    kVersion,     // print version_text() on standard output, exit 0
    kUsageError,  // print the message and the usage hint on standard error, exit 2
};

constexpr int kMaxThreads = 1024;
constexpr int kMaxCacheMb = 1 << 20;  // 1 TiB

// Reads argv[1..argc-1] into `options` (fields not named keep their values; toolkit_args starts
// with argv[0]). On kUsageError `message` holds one line without a line end. Does not resolve DIR.
CommandLineAction parse_command_line(int argc, const char* const* argv, ViewerOptions& options,
                                     std::string& message);

// Resolves options.dir to options.data_folder: the default folder without DIR, otherwise the
// ezw_data folder it names; a DIR that ends in .qvk (or is a file that starts like one) is a
// one-file picture, set in
// options.picture_file (the file itself is checked when it is opened). False, with `message` set
// to one line naming the folder and what was expected, when DIR cannot be a data set.
bool resolve_data_folder(ViewerOptions& options, std::string& message);

std::string usage_text();    // the --help text, ending in a line end
std::string version_text();  // "quorvik VERSION\n"
// The hint printed after a usage error.
constexpr const char* kUsageHint = "Try 'quorvik --help' for more information.";
