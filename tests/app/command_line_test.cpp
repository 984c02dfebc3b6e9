// The viewer's command line: our options and DIR, the toolkit's options set aside unchanged, the
// errors that end it with status 2, and DIR resolved to an ezw_data folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "tests/support/fixture.h"

namespace {

struct Parsed {
    CommandLineAction action;
    ViewerOptions options;
    std::string message;
};

Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "quorvik");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    Parsed p;
    p.action = parse_command_line(int(args.size()), argv.data(), p.options, p.message);
    return p;
}

TEST(CommandLine, NoArgumentsKeepsTheDefaults) {
    const Parsed p = parse({});
    EXPECT_EQ(p.action, CommandLineAction::kRun);
    EXPECT_FALSE(p.options.has_dir);
    EXPECT_EQ(p.options.threads, 0);
    EXPECT_EQ(p.options.cache_mb, 256);
    EXPECT_EQ(p.options.toolkit_args, std::vector<std::string>{"quorvik"});
    EXPECT_EQ(p.options.display, "");
}

TEST(CommandLine, OptionsAndDirInAnyOrderAndBothValueForms) {
    Parsed p = parse({"--threads", "4", "/data/earth", "--cache-mb=0"});
    ASSERT_EQ(p.action, CommandLineAction::kRun) << p.message;
    EXPECT_TRUE(p.options.has_dir);
    EXPECT_EQ(p.options.dir, "/data/earth");
    EXPECT_EQ(p.options.threads, 4);
    EXPECT_EQ(p.options.cache_mb, 0);

    p = parse({"earth", "--threads=1024", "--cache-mb", "1048576"});
    ASSERT_EQ(p.action, CommandLineAction::kRun) << p.message;
    EXPECT_EQ(p.options.dir, "earth");
    EXPECT_EQ(p.options.threads, 1024);
    EXPECT_EQ(p.options.cache_mb, 1048576);

    // After "--" everything is DIR, even what looks like an option.
    p = parse({"--", "--threads"});
    ASSERT_EQ(p.action, CommandLineAction::kRun) << p.message;
    EXPECT_EQ(p.options.dir, "--threads");
    EXPECT_EQ(p.options.threads, 0);
}

TEST(CommandLine, ToolkitOptionsPassUnchangedInTheirOrder) {
    const Parsed p = parse({"--display", ":3", "--sync", "earth", "--name=Map", "--gtk-module",
                            "mod", "--class=Viewer", "--g-fatal-warnings", "--screen=1"});
    ASSERT_EQ(p.action, CommandLineAction::kRun) << p.message;
    EXPECT_EQ(p.options.dir, "earth");
    EXPECT_EQ(p.options.toolkit_args,
              (std::vector<std::string>{"quorvik", "--display", ":3", "--sync", "--name=Map",
                                        "--gtk-module", "mod", "--class=Viewer",
                                        "--g-fatal-warnings", "--screen=1"}));
    EXPECT_EQ(p.options.display, ":3");
    EXPECT_EQ(parse({"--display=:7"}).options.display, ":7");
}

TEST(CommandLine, HelpAndVersionWinWhereverTheyStand) {
    EXPECT_EQ(parse({"--help"}).action, CommandLineAction::kHelp);
    EXPECT_EQ(parse({"-h"}).action, CommandLineAction::kHelp);
    EXPECT_EQ(parse({"earth", "--threads", "2", "--help"}).action, CommandLineAction::kHelp);
    EXPECT_EQ(parse({"--version"}).action, CommandLineAction::kVersion);
    EXPECT_EQ(parse({"/no/such/folder", "--version"}).action, CommandLineAction::kVersion);
    EXPECT_EQ(version_text().rfind("quorvik ", 0), 0u);
    EXPECT_EQ(version_text().back(), '\n');
}

TEST(CommandLine, MistakesAreUsageErrorsNamingWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        const char* message_part;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x", "earth"}, "unknown option '-x'"},
        {{"--help-gtk"}, "unknown option '--help-gtk'"},
        {{"--threads"}, "option '--threads' needs a value"},
        {{"--threads=-1"}, "got '-1'"},
        {{"--threads", "abc"}, "got 'abc'"},
        {{"--threads", "1025"}, "from 0 to 1024, got '1025'"},
        {{"--threads", " 4"}, "got ' 4'"},
        {{"--cache-mb", "1.5"}, "option '--cache-mb' wants a whole number"},
        {{"--cache-mb="}, "got ''"},
        {{"--cache-mb", "99999999999"}, "got '99999999999'"},
        {{"--sync=1"}, "option '--sync' takes no value"},
        {{"earth", "--display"}, "option '--display' needs a value"},
        {{"earth", "moon"}, "more than one folder given ('earth' and 'moon')"},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.args);
        SCOPED_TRACE(c.args.front());
        EXPECT_EQ(p.action, CommandLineAction::kUsageError);
        EXPECT_NE(p.message.find(c.message_part), std::string::npos) << p.message;
        EXPECT_EQ(p.message.find('\n'), std::string::npos) << "one line: " << p.message;
    }
}

TEST(CommandLine, DirResolvesToItsEzwDataFolder) {
    const std::string root = make_temp_dir("quorvik-cli");
    for (const char* dir : {"/earth/ezw_data", "/empty", "/no-minimap/ezw_data"})
        std::filesystem::create_directories(root + dir);
    write_file(root + "/earth/ezw_data/minimap.pzd", Bytes{1});
    write_file(root + "/a-file", Bytes{1});

    ViewerOptions o;
    std::string message;
    ASSERT_TRUE(resolve_data_folder(o, message));
    EXPECT_EQ(o.data_folder, "./ezw_data") << "no DIR: the default folder, as always";

    struct Good {
        std::string dir, folder;
    } good[] = {
        {root + "/earth", root + "/earth/ezw_data"},
        {root + "/earth/", root + "/earth/ezw_data"},
        {root + "/earth/ezw_data", root + "/earth/ezw_data"},
    };
    for (const Good& g : good) {
        o.has_dir = true;
        o.dir = g.dir;
        EXPECT_TRUE(resolve_data_folder(o, message)) << message;
        EXPECT_EQ(o.data_folder, g.folder);
    }

    struct Bad {
        std::string dir, why;
    } bad[] = {
        {root + "/missing", "no such folder; expected a folder that holds ezw_data/minimap.pzd"},
        {root + "/a-file", "not a folder; expected a folder that holds ezw_data/minimap.pzd"},
        {root + "/empty", "holds no ezw_data/minimap.pzd"},
        {root + "/no-minimap", "holds an ezw_data folder without minimap.pzd"},
        {"", "no folder given"},
    };
    for (const Bad& b : bad) {
        o.has_dir = true;
        o.dir = b.dir;
        EXPECT_FALSE(resolve_data_folder(o, message)) << b.dir;
        EXPECT_EQ(message.rfind("'" + b.dir + "': ", 0), 0u) << message;
        EXPECT_NE(message.find(b.why), std::string::npos) << message;
    }
    remove_tree(root);
}

TEST(CommandLine, HelpNamesEveryOptionKeyAndMouseAction) {
    const std::string help = usage_text();
    for (const char* part :
         {"Usage: quorvik [OPTIONS] [DIR]", "--help", "--version", "--threads N", "--cache-mb M",
          "--display", "--sync", "--gtk-module", "F11", "F12", "Home", "Esc or q", "left drag",
          "wheel", "minimap", "Example:", "quorvik ~/"})
        EXPECT_NE(help.find(part), std::string::npos) << part;
    EXPECT_EQ(help.back(), '\n');
}

}  // namespace
