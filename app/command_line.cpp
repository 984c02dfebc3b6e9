#include "app/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <cmath>
#include <cstring>

#include "app/version.h"
#include "store/data_set.h"
#include "store/qvk_file.h"

namespace {

// The toolkit's own options (GTK+ 2 and GDK). GTK accepts each value either after '=' or as the
// next argument; both forms are passed on as they were given.
struct ToolkitOption {
    const char* name;
    bool takes_value;
};
const ToolkitOption kToolkitOptions[] = {
    {"--display", true},
    {"--screen", true},
    {"--class", true},
    {"--name", true},
    {"--gtk-module", true},
    {"--gdk-debug", true},
    {"--gdk-no-debug", true},
    {"--gtk-debug", true},
    {"--gtk-no-debug", true},
    {"--sync", false},
    {"--g-fatal-warnings", false},
};

const ToolkitOption* find_toolkit_option(const std::string& name) {
    for (const ToolkitOption& o : kToolkitOptions)
        if (name == o.name) return &o;
    return nullptr;
}

// A whole decimal number in lo..hi, digits only (no sign, no spaces, no suffix).
bool parse_count(const std::string& text, int lo, int hi, int& out) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    const long v = strtol(text.c_str(), nullptr, 10);
    if (v < lo || v > hi) return false;
    out = int(v);
    return true;
}

// "X,Y,S": three finite numbers, X and Y not negative, S above 0.
bool parse_view(const std::string& text, StartView& view) {
    double v[3];
    const char* p = text.c_str();
    for (int i = 0; i < 3; ++i) {
        char* end = nullptr;
        errno = 0;
        v[i] = strtod(p, &end);
        if (end == p || errno != 0 || !std::isfinite(v[i])) return false;
        if (*end != (i < 2 ? ',' : '\0')) return false;
        p = end + 1;
    }
    if (v[0] < 0 || v[1] < 0 || !(v[2] > 0)) return false;
    view = StartView{true, v[0], v[1], v[2]};
    return true;
}

}  // namespace

CommandLineAction parse_command_line(int argc, const char* const* argv, ViewerOptions& options,
                                     std::string& message) {
    options.toolkit_args.assign(1, argc > 0 && argv[0] ? argv[0] : "quorvik");
    bool operands_only = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (operands_only || arg.empty() || arg[0] != '-' || arg == "-") {
            if (options.has_dir) {
                message = "more than one folder given ('" + options.dir + "' and '" + arg +
                          "'); the viewer opens one data set";
                return CommandLineAction::kUsageError;
            }
            options.has_dir = true;
            options.dir = arg;
            continue;
        }
        if (arg == "--") {
            operands_only = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") return CommandLineAction::kHelp;
        if (arg == "--version") return CommandLineAction::kVersion;

        const size_t eq = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, eq);
        const bool inline_value = eq != std::string::npos;
        // The value after '=' or, failing that, the next argument.
        auto take_value = [&](std::string& value) {
            if (inline_value) {
                value = arg.substr(eq + 1);
                return true;
            }
            if (i + 1 >= argc) {
                message = "option '" + name + "' needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };

        if (name == "--threads" || name == "--cache-mb") {
            std::string value;
            if (!take_value(value)) return CommandLineAction::kUsageError;
            const bool threads = name == "--threads";
            int& field = threads ? options.threads : options.cache_mb;
            const int hi = threads ? kMaxThreads : kMaxCacheMb;
            if (!parse_count(value, 0, hi, field)) {
                message = "option '" + name + "' wants a whole number from 0 to " +
                          std::to_string(hi) + ", got '" + value + "'";
                return CommandLineAction::kUsageError;
            }
            continue;
        }

        if (name == "--view") {
            std::string value;
            if (!take_value(value)) return CommandLineAction::kUsageError;
            if (!parse_view(value, options.view)) {
                message =
                    "option '--view' wants X,Y,S (a picture pixel and screen pixels per "
                    "picture pixel, S above 0), got '" +
                    value + "'";
                return CommandLineAction::kUsageError;
            }
            continue;
        }

        if (const ToolkitOption* o = find_toolkit_option(name)) {
            if (!o->takes_value) {
                if (inline_value) {
                    message = "option '" + name + "' takes no value";
                    return CommandLineAction::kUsageError;
                }
                options.toolkit_args.push_back(arg);
                continue;
            }
            const int first = i;
            std::string value;
            if (!take_value(value)) return CommandLineAction::kUsageError;
            for (int k = first; k <= i; ++k) options.toolkit_args.push_back(argv[k]);
            if (name == "--display") options.display = value;
            continue;
        }

        message = "unknown option '" + arg + "'";
        return CommandLineAction::kUsageError;
    }
    return CommandLineAction::kRun;
}

bool resolve_data_folder(ViewerOptions& options, std::string& message) {
    if (!options.has_dir) {
        options.data_folder = kDefaultDataFolder;
        return true;
    }
    if (is_qvk_path(options.dir)) {
        options.picture_file = options.dir;
        return true;
    }
    std::string why;
    options.data_folder = find_data_folder(options.dir, why);
    if (!options.data_folder.empty()) return true;
    message = "'" + options.dir + "': " + why;
    return false;
}

std::string version_text() {
    return std::string("quorvik ") + kQuorvikVersion + "\n";
}

std::string usage_text() {
    return R"(Usage: quorvik [OPTIONS] [DIR]
Show one multi-gigapixel image from a QUORVIK data set, under a camera that looks straight
down, with a small control panel beside it.

DIR is the folder that holds ezw_data/ (the ezw_data folder itself is accepted too), as written
by quorvik-tool build or import, or a one-file picture NAME.qvk (any size, read as it is
shown; quorvik-tool import IMAGE --out NAME.qvk). Without DIR the viewer reads ./ezw_data
below the working folder.

Options:
  -h, --help        print this help and exit
      --version     print the version and exit
      --threads N   worker threads for making tiles (default 0: one per core)
      --cache-mb M  tile cache budget in MiB (default 256; 0 turns the cache off)
      --view X,Y,S  open centred on picture pixel (X, Y) at S screen pixels per picture pixel
                    (of the finest level; the v key prints the view shown in this form)
  --              every later argument is DIR, even one that starts with '-'
GTK+ options (--display=DISPLAY, --screen=SCREEN, --sync, --gtk-module=MODULES, --name=NAME,
--class=CLASS, --g-fatal-warnings) are passed on to the toolkit; --display also chooses the
display of the drawing window.

Keys:
  w or Up, s or Down          move down towards the image (zoom in), up (zoom out)
  a or Left, d or Right       move left, right
  r or Right Ctrl             move towards the image's top
  f or Keypad 0               move towards the image's bottom
  Left Shift, Right Shift     held: move four times faster, four times slower
  Home                        fly back to the start view (a .qvk file: the whole picture)
  F11                         fullscreen on and off
  F12                         save the frame shown as quorvik-YYYYMMDD-HHMMSS.png in the
                              working folder
  p                           held: print the camera position and axes
  v                           print the view shown as a command line (quorvik ... --view X,Y,S)
  Esc or q                    quit

Mouse:
  left drag                   pan: the point under the pointer follows it
  wheel                       zoom in (up) or out (down) about the point under the pointer
  left click on the minimap   fly to that point

Exit status: 0 after quitting, 1 when the data set cannot be loaded or no display can be
opened, 2 for a wrong command line.

Example:
  quorvik-tool import ~/pictures/earth.tif --out ~/earth
  quorvik ~/earth
  quorvik-tool import ~/pictures/scan.tif --out ~/scan.qvk
  quorvik ~/scan.qvk --view 12000,8000,1
)";
}
