// Release of everything the program owns, in the exit routine's order. Every reference starts
// null and is nulled again here, so this runs safely at any point of start-up (or twice).
#include <cstdlib>

#include "app/exit.h"
#include "app/frame_state.h"
#include "camera/camera.h"
#include "store/data_set.h"
#include "store/render_buffers.h"

void release_program_data() {
    delete camera;
    camera = nullptr;
    ipos = istr = iup = ifor = nullptr;

    free_raw_image(residual_tile);
    free_raw_image(final_tile);
    free_raw_image(synth_a);
    free_raw_image(minimap);
    for (int i = 0; i < kSubImages; ++i) {
        free_raw_image(base_tex_packed[i]);
        free_raw_image(base_tex[i]);
    }
    free_raw_image(synth_b);
    for (int i = 0; i < kSubImages; ++i) {
        for (int level = 2; level <= 5; ++level) {
            ResidualLevel& entry = residuals_level[i][level];
            for (TileSet* set : {entry.R, entry.G, entry.B}) {
                if (!set) continue;
                free(set->index);
                set->index = nullptr;
                free(set->data);
                set->data = nullptr;
            }
            free_tile_set(entry.R);
            free_tile_set(entry.G);
            free_tile_set(entry.B);
        }
    }
    free(frame_buffer);
    frame_buffer = nullptr;
}
