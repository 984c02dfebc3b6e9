#include "app/frame_loop.h"

#include <SDL/SDL.h>
#include <glib.h>

#include "app/exit.h"
#include "app/frame_timing.h"
#include "app/input.h"
#include "app/settings.h"
#include "app/viewer_events.h"
#include "app/window.h"
#include "camera/flight.h"
#include "render/overlays.h"
#include "render/prefetch.h"
#include "render/raster.h"
#include "render/view.h"

void run_frame_loop() {
    for (;;) {
        const Uint32 frame_start = SDL_GetTicks();
        move_speed = 20.0f;

        SDL_PumpEvents();
        const Uint8* keys = SDL_GetKeyState(nullptr);
        int mx = 0, my = 0;
        const Uint8 buttons = SDL_GetMouseState(&mx, &my);
        const SDLMod modifiers = SDL_GetModState();
        input_step(keys, buttons, mx, my, modifiers);

        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT) exit_program(0, "Window-close or <CTRL-C>. clean up!\n");
            if (event.type == SDL_VIDEORESIZE && event.resize.w > 100 && event.resize.h > 100) {
                // Without a frame buffer or a surface no frame can be drawn.
                if (resize_window(event.resize.w, event.resize.h) < 0)
                    exit_program(1, "out of mem!");
            }
            handle_viewer_event(event);
        }

        for (int i = 0; i < 10; ++i) g_main_context_iteration(nullptr, FALSE);
        if (viewer_settings.exitRequested) exit_program(0, "GUI - clean up!\n");

        build_view_matrix();
        const Uint32 now = SDL_GetTicks();
        flight_frame_step(now);
        prefetch_for_flight(now);
        render_view();
        draw_overlays();
        save_requested_screenshot();
        present_frame();
        SDL_Flip(screen);

        const uint32_t delay = limiter_delay(viewer_settings.limitFPS, viewer_settings.fps,
                                             frame_start, SDL_GetTicks());
        if (delay) SDL_Delay(delay);

        if (caption_due(caption_counter)) {
            format_caption(caption_text, sizeof caption_text, title_prefix,
                           SDL_GetTicks() - frame_start);
            SDL_WM_SetCaption(caption_text, kIconTitle);
        }
    }
}
