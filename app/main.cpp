// QUORVIK viewer: start-up sequence. The frame loop lives in frame_loop.cpp.
#include <SDL/SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/console.h"
#include "app/exit.h"
#include "app/frame_loop.h"
#include "app/load.h"
#include "app/frame_state.h"
#include "app/picture_view.h"
#include "app/viewer_events.h"
#include "app/window.h"
#include "camera/camera.h"
#include "decoder/scan_order.h"
#include "panel/panel.h"
#include "render/engine.h"
#include "render/picture.h"
#include "render/render_buffers.h"
#include "store/data_set.h"

namespace {
const char kTitleText[] =
    "QUORVIK - gigapixel image viewer - by the QUORVIK developers, 2026  fps: ";

// Reads the command line; ends the process for --help, --version, a wrong command line or a DIR
// that holds no data set, before any window opens.
void read_command_line(int argc, char** argv, ViewerOptions& options) {
    std::string message;
    switch (parse_command_line(argc, argv, options, message)) {
        case CommandLineAction::kHelp:
            fputs(usage_text().c_str(), stdout);
            exit(0);
        case CommandLineAction::kVersion:
            fputs(version_text().c_str(), stdout);
            exit(0);
        case CommandLineAction::kUsageError:
            fprintf(stderr, "quorvik: %s\n%s\n", message.c_str(), kUsageHint);
            exit(2);
        case CommandLineAction::kRun:
            break;
    }
    if (!resolve_data_folder(options, message)) {
        fprintf(stderr, "quorvik: %s\n", message.c_str());
        exit(1);
    }
    if (!options.picture_file.empty() && !open_viewer_file(options.picture_file, message)) {
        fprintf(stderr, "quorvik: %s\n", message.c_str());
        exit(1);
    }
    // Both windows open on the display the user named for the toolkit.
    if (!options.display.empty()) setenv("DISPLAY", options.display.c_str(), 1);
}

}  // namespace

const char* const kIconTitle = "QUORVIK";
char title_prefix[160];
char caption_text[192];
int caption_counter = 0;

int main(int argc, char** argv) {
    ViewerOptions options;
    read_command_line(argc, argv, options);
    // GTK's initialisation gets the program name and the toolkit's own options, as given.
    std::vector<char*> toolkit_argv;
    for (std::string& arg : options.toolkit_args) toolkit_argv.push_back(&arg[0]);
    toolkit_argv.push_back(nullptr);
    int toolkit_argc = int(toolkit_argv.size()) - 1;
    char** toolkit_args = toolkit_argv.data();

    caption_counter = 7;
    printf("QUORVIK - a viewer for one huge image, by the QUORVIK developers\n");
    frame_width = 512;
    frame_height = 512;
    frame_buffer = static_cast<uint32_t*>(malloc(512 * 512 * 4));
    if (!frame_buffer) exit_program(1, "out of mem!");

    platform_shutdown = SDL_Quit;
    if (SDL_Init(SDL_INIT_VIDEO) < 0)
        exit_program(1, "Video initialization failed: %s\n", SDL_GetError());
    const SDL_VideoInfo* info = SDL_GetVideoInfo();
    if (!info) exit_program(1, "Video query failed: %s\n", SDL_GetError());
    // Before the first video mode is set, the current mode is the desktop's.
    desktop_width = info->current_w;
    desktop_height = info->current_h;

    snprintf(title_prefix, sizeof title_prefix, "%s ", kTitleText);
    snprintf(caption_text, sizeof caption_text, "%s", title_prefix);
    SDL_WM_SetCaption(caption_text, kIconTitle);

    // The frame is copied word by word as 0x00RRGGBB, so the surface is asked for 32 bits per
    // pixel whatever the desktop's depth; SDL emulates other depths through a shadow surface.
    screen = SDL_SetVideoMode(512, 512, 32, SDL_SWSURFACE | SDL_RESIZABLE);
    if (!screen) exit_program(1, "Video mode set failed: %s\n", SDL_GetError());
    if (resize_window(512, 512) < 0) exit_program(1, "out of mem!");

    SDL_EnableKeyRepeat(1, 30);
    start_panel(&toolkit_argc, &toolkit_args);
    if (!place_start_camera()) exit_program(1, "out of mem!");
    build_scan_order();
    if (viewer_file) {
        if (!install_viewer_file(stdout)) exit_program(1, "out of mem!");
    } else {
        load_data_set(options.data_folder);
    }
    prepare_render_buffers();
    if (options.view.given) apply_view(options.view);
    view_command_target = options.has_dir ? options.dir : std::string();
    render_engine().configure(options.threads, size_t(options.cache_mb) << 20);
    run_frame_loop();
}
