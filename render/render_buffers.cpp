#include "render/render_buffers.h"

#include <cmath>
#include <cstdlib>

RawImage final_tile;
RawImage synth_a;
RawImage synth_b;
float level_scale[6] = {0, 0, 0, 0, 0, 0};

namespace {

bool make_work_image(RawImage& image, int size) {
    image.bpp = 4;
    image.w = size;
    image.h = size;
    image.stride = size * 4;
    image.data = static_cast<uint8_t*>(malloc(size_t(size) * size * 4));
    return image.data != nullptr;
}

}  // namespace

bool allocate_work_images() {
    return make_work_image(residual_tile, 64) && make_work_image(final_tile, 64) &&
           make_work_image(synth_a, 72) && make_work_image(synth_b, 72);
}

void fill_level_scale() {
    for (int k = 0; k <= 5; ++k) level_scale[k] = float(std::pow(2.0, 6 - k));
}
