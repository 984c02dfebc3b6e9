#pragma once
// Mouse navigation and the flights the keys and the minimap start. The camera looks straight
// down, so one window pixel spans height / focal_length world units on the ground in both
// directions, and window pixel (px, py) shows the ground point
//   x = camera x + (px + 0.5 - W / 2) * height / focal_length,
//   z = camera z + (py + 0.5 - H / 2) * height / focal_length.

// Zoom factor of one wheel notch: up multiplies the height by it, down divides by it.
constexpr float kWheelZoomFactor = 0.8f;
// The lowest height a wheel zoom reaches; the same floor as the key moves and the renderer.
constexpr float kMinViewHeight = 100.0f;

// The height at which the whole world image just fits in the window: the highest a wheel zoom
// goes.
float max_view_height();

// True when window pixel (x, y) lies on the minimap and the minimap is shown: where a left press
// is a minimap click.
bool minimap_hit(int x, int y);

// Starts a flight from the camera to (x, z) at the camera's height, as a minimap click does.
void start_flight_to(float x, float z);

// Home: a flight back to the start view's x and z at the present height. Ignored while a flight
// runs, like a minimap click.
void fly_home();

// The left button's drag. A press outside the minimap (or anywhere while the minimap is hidden)
// starts a drag; while it lasts the pointer's moves pan the camera so that the ground point under
// the pointer stays under it, and the minimap click is off, so passing over the minimap starts no
// flight. A press on the minimap is a minimap click and never pans. The first move of a drag
// ends a running flight where it is.
void pointer_pressed(int x, int y);
void pointer_moved(int x, int y);
void pointer_released();
bool drag_active();

// Moves the camera so that the view shifts by (dx, dy) window pixels with the ground.
void pan_by_pixels(int dx, int dy);

// One wheel notch at window pixel (x, y): `notches` > 0 zooms in, < 0 out, each notch by
// kWheelZoomFactor, within kMinViewHeight .. max_view_height() (a zoom out never lowers a camera
// that the keys took higher, a zoom in never raises one). The ground point under (x, y) stays
// there. Ends a running flight where it is.
void zoom_at(int x, int y, int notches);
