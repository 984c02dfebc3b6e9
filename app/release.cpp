// Release of everything the program owns: the camera, the work images, the data set, the frame
// buffer. Every reference starts null and is nulled again here, so this runs safely at any point
// of start-up (or twice).
#include <cstdlib>

#include "app/exit.h"
#include "app/frame_state.h"
#include "camera/camera.h"
#include "render/engine.h"
#include "render/render_buffers.h"
#include "store/data_set.h"

void release_program_data() {
    // First the render engine: its workers may be reading the data set.
    release_render_engine();
    delete camera;
    camera = nullptr;
    ipos = istr = iup = ifor = nullptr;

    free_raw_image(residual_tile);
    free_raw_image(final_tile);
    free_raw_image(synth_a);
    free_raw_image(synth_b);
    viewer_data.release();
    free(frame_buffer);
    frame_buffer = nullptr;
}
