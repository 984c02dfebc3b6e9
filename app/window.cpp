#include "app/window.h"

#include <cstdio>

#include "app/console.h"
#include "app/frame_state.h"
#include "render/raster.h"
#include "store/data_set.h"

SDL_Surface* screen = nullptr;
int desktop_width = 0;
int desktop_height = 0;

namespace {

// The window's size before fullscreen, to go back to.
bool fullscreen = false;
int windowed_width = 512;
int windowed_height = 512;

// Sets the display surface to w x h with `flags` (keeping its depth), and the frame buffer and
// window-shape values with it. A new surface is asked for when the size or the fullscreen flag
// changes.
int set_window_mode(int w, int h, Uint32 flags) {
    if (!screen || w != screen->w || h != screen->h ||
        (flags & SDL_FULLSCREEN) != (screen->flags & SDL_FULLSCREEN)) {
        // Keep the surface's depth; start-up asked for 32 bits per pixel.
        const int bpp = screen ? screen->format->BitsPerPixel : 32;
        screen = SDL_SetVideoMode(w, h, bpp, flags);
        fprintf(console_out, "\n\t REALLOC \n");
        if (!resize_frame_buffer(w, h)) return -1;
        if (minimap_rect.x >= frame_width) minimap_rect.x = frame_width - 1;
        if (minimap_rect.y >= frame_height) minimap_rect.y = frame_height - 1;
    }
    if (!screen) return -1;
    fprintf(console_out, "RESIZED: desired: %d %d  actually: %d %d\n", w, h, screen->w, screen->h);
    compute_window_shape(w, h, screen->pitch, screen->w);
    return 0;
}

// The largest fullscreen mode SDL lists, for when the desktop's size is unknown.
bool largest_mode(int& w, int& h) {
    SDL_Rect** modes = SDL_ListModes(nullptr, SDL_FULLSCREEN | SDL_SWSURFACE);
    if (!modes || modes == reinterpret_cast<SDL_Rect**>(-1) || !modes[0]) return false;
    w = modes[0]->w;  // listed largest first
    h = modes[0]->h;
    return true;
}

}  // namespace

int resize_window(int w, int h) {
    return set_window_mode(w, h, screen ? screen->flags : kWindowFlags);
}

int toggle_fullscreen() {
    if (fullscreen) {
        fullscreen = false;
        return set_window_mode(windowed_width, windowed_height, kWindowFlags);
    }
    int w = desktop_width, h = desktop_height;
    if ((w <= 0 || h <= 0) && !largest_mode(w, h)) return 0;  // nowhere to go: stay windowed
    windowed_width = frame_width;
    windowed_height = frame_height;
    if (set_window_mode(w, h, SDL_SWSURFACE | SDL_FULLSCREEN) == 0) {
        fullscreen = true;
        return 0;
    }
    // The display refused fullscreen: back to the window as it was.
    return set_window_mode(windowed_width, windowed_height, kWindowFlags);
}

bool is_fullscreen() {
    return fullscreen;
}

namespace {

bool is_packed_rgb32(const SDL_PixelFormat* f) {
    return f->BytesPerPixel == 4 && f->Rmask == 0x00ff0000u && f->Gmask == 0x0000ff00u &&
           f->Bmask == 0x000000ffu;
}

// Any other surface layout: convert pixel by pixel through SDL's own format mapping, writing only
// whole pixels inside the surface.
void present_converted() {
    const int w = frame_width < screen->w ? frame_width : screen->w;
    const int h = frame_height < screen->h ? frame_height : screen->h;
    const int bytes = screen->format->BytesPerPixel;
    for (int y = 0; y < h; ++y) {
        const uint32_t* src = frame_buffer + size_t(y) * frame_width;
        Uint8* row = static_cast<Uint8*>(screen->pixels) + size_t(y) * screen->pitch;
        for (int x = 0; x < w; ++x) {
            const Uint32 v =
                SDL_MapRGB(screen->format, Uint8(src[x] >> 16), Uint8(src[x] >> 8), Uint8(src[x]));
            Uint8* p = row + size_t(x) * bytes;
            switch (bytes) {
                case 1:
                    *p = Uint8(v);
                    break;
                case 2:
                    *reinterpret_cast<Uint16*>(p) = Uint16(v);
                    break;
                case 3:
                    p[0] = Uint8(v);
                    p[1] = Uint8(v >> 8);
                    p[2] = Uint8(v >> 16);
                    break;
                default:
                    *reinterpret_cast<Uint32*>(p) = v;
                    break;
            }
        }
    }
}

}  // namespace

void present_frame() {
    if (!screen || !frame_buffer) return;
    const bool lock = SDL_MUSTLOCK(screen);
    if (lock && SDL_LockSurface(screen) < 0) return;
    if (is_packed_rgb32(screen->format))
        present_frame_words(static_cast<uint8_t*>(screen->pixels), screen->pitch, screen->w,
                            screen->h);
    else
        present_converted();
    if (lock) SDL_UnlockSurface(screen);
}
