#pragma once
#include <SDL/SDL.h>

// The display surface. Written by the start-up sequence and resize_window; read by the frame
// loop (SDL_Flip) and present_frame.
extern SDL_Surface* screen;

// Sets the window, frame buffer and window-shape values to w x h. 0 on success, -1 when the frame
// buffer or the display surface cannot be obtained.
int resize_window(int w, int h);

// Copies the frame buffer into the display surface (converting when the surface is not 32-bit
// 0x00RRGGBB, and only where the surface exists).
void present_frame();
