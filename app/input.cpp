#include "app/input.h"

#include <SDL/SDL.h>

#include <iostream>

#include "app/exit.h"
#include "app/navigation.h"
#include "app/settings.h"
#include "camera/flight.h"
#include "render/picture.h"
#include "store/data_set.h"
#include "store/format.h"

float move_speed = 20.0f;

namespace {

void print_vector(const char* label, const Vec4& v) {
    std::cout << label << v.x << ", " << v.y << ", " << v.z << "\n";
}

void start_flight_from_click(int mx, int my) {
    const MinimapRect& r = minimap_rect;
    const double fx = double(mx - r.x) / double(r.w);
    const double fz = double(my - r.y) / double(r.h);
    const PictureGeometry& g = picture_geometry;
    start_flight_to(float(fx * g.width + g.x0), float(fz * g.height + g.z0));
}

}  // namespace

void input_step(const uint8_t* keys, uint32_t buttons, int mx, int my, uint32_t modifiers) {
    // A drag that started off the minimap keeps the button down; it never becomes a click.
    if ((buttons & SDL_BUTTON(1)) && !drag_active() && flight_running == 0 && minimap_hit(mx, my))
        start_flight_from_click(mx, my);

    if (modifiers & KMOD_LSHIFT) move_speed = 80.0f;
    if (modifiers & KMOD_RSHIFT) move_speed = 5.0f;

    if (keys[SDLK_w] || keys[SDLK_UP]) camera->move_forward_clamped(-move_speed);
    if (keys[SDLK_s] || keys[SDLK_DOWN]) camera->move_forward_clamped(move_speed);
    if (keys[SDLK_a] || keys[SDLK_LEFT]) camera->move_right_clamped(move_speed);
    if (keys[SDLK_d] || keys[SDLK_RIGHT]) camera->move_right_clamped(-move_speed);
    if (keys[SDLK_r] || keys[SDLK_RCTRL]) camera->move_up_clamped(move_speed);
    if (keys[SDLK_f] || keys[SDLK_KP0]) camera->move_up_clamped(-move_speed);

    if (keys[SDLK_p]) {
        std::cout << "\n";
        print_vector("ipos = ", *ipos);
        print_vector("istr = ", *istr);
        print_vector("iup = ", *iup);
        print_vector("ifor = ", *ifor);
        std::cout << "\n" << std::flush;
    }

    if (keys[SDLK_ESCAPE] || keys[SDLK_q]) exit_program(0, "<ESC> or <q> pressed. clean up!\n");
}
