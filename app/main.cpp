// QUORVIK viewer: start-up sequence. The frame loop lives in frame_loop.cpp.
#include <SDL/SDL.h>

#include <cstdio>
#include <cstdlib>

#include "app/console.h"
#include "app/exit.h"
#include "app/frame_loop.h"
#include "app/frame_state.h"
#include "app/window.h"
#include "camera/camera.h"
#include "decoder/scan_order.h"
#include "panel/panel.h"
#include "store/data_set.h"
#include "store/render_buffers.h"

namespace {
const char kTitleText[] =
    "QUORVIK - gigapixel image viewer - by the QUORVIK developers, 2026  fps: ";
}  // namespace

const char* const kIconTitle = "QUORVIK";
char title_prefix[160];
char caption_text[192];
int caption_counter = 0;

int main(int argc, char** argv) {
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

    snprintf(title_prefix, sizeof title_prefix, "%s ", kTitleText);
    snprintf(caption_text, sizeof caption_text, "%s", title_prefix);
    SDL_WM_SetCaption(caption_text, kIconTitle);

    // The frame is copied word by word as 0x00RRGGBB, so the surface is asked for 32 bits per
    // pixel whatever the desktop's depth; SDL emulates other depths through a shadow surface.
    screen = SDL_SetVideoMode(512, 512, 32, SDL_SWSURFACE | SDL_RESIZABLE);
    if (!screen) exit_program(1, "Video mode set failed: %s\n", SDL_GetError());
    if (resize_window(512, 512) < 0) exit_program(1, "out of mem!");

    SDL_EnableKeyRepeat(1, 30);
    start_panel(&argc, &argv);
    if (!place_start_camera()) exit_program(1, "out of mem!");
    build_scan_order();
    load_data_set();
    prepare_render_buffers();
    run_frame_loop();
}
