#include "app/viewer_events.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "app/exit.h"
#include "app/frame_state.h"
#include "app/navigation.h"
#include "render/picture.h"
#include "app/screenshot.h"
#include "app/window.h"

namespace {

bool screenshot_requested = false;

// Held state of the one-shot keys, so that key repeats do not act again.
struct OneShotKey {
    SDLKey key;
    bool held;
};
OneShotKey one_shot_keys[] = {
    {SDLK_F11, false}, {SDLK_F12, false}, {SDLK_HOME, false}, {SDLK_v, false}};

OneShotKey* find_one_shot(SDLKey key) {
    for (OneShotKey& k : one_shot_keys)
        if (k.key == key) return &k;
    return nullptr;
}

void act_on_key(SDLKey key) {
    switch (key) {
        case SDLK_F11:
            // Whatever was held goes with the old window.
            pointer_released();
            if (toggle_fullscreen() < 0)
                exit_program(1, "Video mode set failed: %s\n", SDL_GetError());
            break;
        case SDLK_F12:
            screenshot_requested = true;
            break;
        case SDLK_HOME:
            fly_home();
            break;
        case SDLK_v:
            printf("%s\n", view_command(view_command_target).c_str());
            fflush(stdout);
            break;
        default:
            break;
    }
}

}  // namespace

std::string view_command_target;

void handle_viewer_event(const SDL_Event& event) {
    switch (event.type) {
        case SDL_MOUSEBUTTONDOWN:
            if (event.button.button == SDL_BUTTON_LEFT)
                pointer_pressed(event.button.x, event.button.y);
            else if (event.button.button == SDL_BUTTON_WHEELUP)
                zoom_at(event.button.x, event.button.y, 1);
            else if (event.button.button == SDL_BUTTON_WHEELDOWN)
                zoom_at(event.button.x, event.button.y, -1);
            break;
        case SDL_MOUSEBUTTONUP:
            if (event.button.button == SDL_BUTTON_LEFT) pointer_released();
            break;
        case SDL_MOUSEMOTION:
            // A move with the button up means its release was never seen: the drag is over.
            if (!(event.motion.state & SDL_BUTTON(SDL_BUTTON_LEFT))) pointer_released();
            pointer_moved(event.motion.x, event.motion.y);
            break;
        case SDL_KEYDOWN:
            if (OneShotKey* k = find_one_shot(event.key.keysym.sym)) {
                if (!k->held) act_on_key(k->key);
                k->held = true;
            }
            break;
        case SDL_KEYUP:
            if (OneShotKey* k = find_one_shot(event.key.keysym.sym)) k->held = false;
            break;
        default:
            break;
    }
}

void save_requested_screenshot() {
    if (!screenshot_requested) return;
    screenshot_requested = false;
    std::string why;
    const std::string path =
        save_screenshot(".", time(nullptr), frame_buffer, frame_width, frame_height, why);
    if (path.empty()) {
        fprintf(stderr, "quorvik: cannot save the frame: %s\n", why.c_str());
        fflush(stderr);
        return;
    }
    std::error_code ec;
    const std::filesystem::path shown = std::filesystem::absolute(path, ec).lexically_normal();
    printf("saved %s\n", ec ? path.c_str() : shown.c_str());
    fflush(stdout);
}
