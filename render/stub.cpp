// Placeholder until the renderer lands.
#include <cstring>
#include "app/frame_state.h"
#include "render/overlays.h"
#include "render/raster.h"
#include "render/view.h"
void render_view() {
    if (frame_buffer) memset(frame_buffer, 0, size_t(frame_width) * frame_height * 4);
}
void build_view_matrix() {}
void draw_overlays() {}
void present_frame_words(uint8_t* pixels, int pitch, int sw, int sh) {
    int w = frame_width < sw ? frame_width : sw;
    int h = frame_height < sh ? frame_height : sh;
    for (int y = 0; y < h; ++y)
        memcpy(pixels + size_t(y) * pitch, frame_buffer + size_t(y) * frame_width, size_t(w) * 4);
}
