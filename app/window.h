#pragma once
#include <SDL/SDL.h>

// The display surface. Written by the start-up sequence and resize_window; read by the frame
// loop (SDL_Flip) and present_frame.
extern SDL_Surface* screen;

// The flags of the drawing window (not fullscreen).
constexpr Uint32 kWindowFlags = SDL_SWSURFACE | SDL_RESIZABLE;

// The desktop's size, recorded at start-up before the window opens (0 when SDL cannot tell);
// fullscreen takes this size.
extern int desktop_width;
extern int desktop_height;

// Sets the window, frame buffer and window-shape values to w x h. 0 on success, -1 when the frame
// buffer or the display surface cannot be obtained.
int resize_window(int w, int h);

// Switches between the window and fullscreen at the desktop's size; back in the window it has
// the size it had before. The frame buffer follows as for a resize (same log lines). When the
// display refuses fullscreen the window stays as it was. -1 when no display surface or frame
// buffer can be had at all.
int toggle_fullscreen();
bool is_fullscreen();

// Copies the frame buffer into the display surface (converting when the surface is not 32-bit
// 0x00RRGGBB, and only where the surface exists).
void present_frame();
