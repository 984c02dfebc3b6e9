#include "store/render_buffers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/console.h"
#include "app/exit.h"
#include "store/data_set.h"

RawImage residual_tile;
RawImage final_tile;
RawImage synth_a;
RawImage synth_b;
float level_scale[6] = {0, 0, 0, 0, 0, 0};

namespace {

void make_work_image(RawImage& image, int size) {
    image.bpp = 4;
    image.w = size;
    image.h = size;
    image.stride = size * 4;
    image.data = static_cast<uint8_t*>(malloc(size_t(size) * size * 4));
    if (!image.data) exit_program(1, "out of mem!");
}

}  // namespace

void prepare_render_buffers() {
    make_work_image(residual_tile, 64);
    make_work_image(final_tile, 64);
    make_work_image(synth_a, 72);
    make_work_image(synth_b, 72);
    pack_base_textures(viewer_data);
    for (int k = 0; k <= 5; ++k) level_scale[k] = float(std::pow(2.0, 6 - k));
}
