#include "app/navigation.h"

#include <algorithm>
#include <cmath>

#include "app/frame_state.h"
#include "app/settings.h"
#include "camera/flight.h"
#include "render/picture.h"
#include "store/data_set.h"
#include "store/format.h"

namespace {

// The drag in progress: the pointer position its last pan reached.
struct Drag {
    bool active = false;
    int x = 0, y = 0;
};
Drag drag;

// World units one window pixel spans on the ground at the camera's height.
double units_per_pixel(double height) {
    return height / double(focal_length);
}

}  // namespace

bool minimap_hit(int x, int y) {
    const MinimapRect& r = minimap_rect;
    return viewer_settings.showMinimap == 1 && r.x <= x && x < r.x + r.w && r.y <= y &&
           y < r.y + r.h;
}

float max_view_height() {
    return fit_height();
}

void start_flight_to(float x, float z) {
    flight_start = FlightView{ipos->x, ipos->z, ipos->y};
    flight_target = FlightView{x, z, ipos->y};
    flight_running = 1;
}

void fly_home() {
    if (flight_running) return;
    if (!viewer_file) {
        start_flight_to(kStartX, kStartZ);
        return;
    }
    // A one-file picture's start view: the whole picture, centred.
    start_flight_to(float(picture_geometry.x0 + picture_geometry.width / 2),
                    float(picture_geometry.z0 + picture_geometry.height / 2));
    flight_target.height = max_view_height();
}

void pointer_pressed(int x, int y) {
    drag.active = !minimap_hit(x, y);
    drag.x = x;
    drag.y = y;
}

void pointer_moved(int x, int y) {
    if (!drag.active || (x == drag.x && y == drag.y)) return;
    flight_running = 0;
    pan_by_pixels(x - drag.x, y - drag.y);
    drag.x = x;
    drag.y = y;
}

void pointer_released() {
    drag.active = false;
}

bool drag_active() {
    return drag.active;
}

void pan_by_pixels(int dx, int dy) {
    // The ground moves with the pointer, so the camera moves the other way.
    const double k = units_per_pixel(ipos->y);
    camera->set_position(float(double(ipos->x) - dx * k), ipos->y, float(double(ipos->z) - dy * k));
}

void zoom_at(int x, int y, int notches) {
    if (notches == 0) return;
    flight_running = 0;
    const double h = ipos->y;
    double to = h * std::pow(double(kWheelZoomFactor), notches);
    if (notches > 0)
        to = std::max(to, std::min(h, double(kMinViewHeight)));
    else
        to = std::min(to, std::max(h, double(max_view_height())));
    const float new_height = float(to);
    // The ground point under the pixel's centre, u pixels right of and v below the window's
    // centre, lies u * h / f from the camera before and must lie u * h' / f from it after.
    const double u = x + 0.5 - frame_width / 2.0;
    const double v = y + 0.5 - frame_height / 2.0;
    const double shift = (h - double(new_height)) / double(focal_length);
    camera->set_position(float(double(ipos->x) + u * shift), new_height,
                         float(double(ipos->z) + v * shift));
}
