#include "tests/render/render_test_util.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/console.h"
#include "app/frame_state.h"
#include "app/load.h"
#include "camera/camera.h"
#include "decoder/scan_order.h"
#include "render/render_buffers.h"
#include "store/data_set.h"
#include "tests/support/fixture.h"

void load_fixture_once() {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    console_out = fopen("/dev/null", "w");
    const std::string dir = make_temp_dir("quorvik_render");
    write_fixture_data_set(dir);
    char back[4096];
    if (!getcwd(back, sizeof back)) back[0] = '\0';
    if (chdir(dir.c_str()) != 0) abort();
    build_scan_order();
    load_data_set();
    prepare_render_buffers();
    if (back[0] && chdir(back) != 0) abort();
    remove_tree(dir);
}

void place_camera(float x, float y, float z) {
    if (!camera && !place_start_camera()) abort();
    camera->set_position(x, y, z);
}

void set_frame(int w, int h) {
    if (!resize_frame_buffer(w, h)) abort();
    compute_window_shape(w, h, 4 * w, w);
}

std::vector<uint32_t> frame_copy() {
    return std::vector<uint32_t>(frame_buffer, frame_buffer + size_t(frame_width) * frame_height);
}
