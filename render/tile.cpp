#include "render/tile.h"

#include "decoder/decode_tile.h"
#include "render/picture.h"
#include "render/qvk_picture.h"
#include "render/synth.h"
#include "store/data_set.h"

void make_tile(const DataSet& data, const TileJob& job, const PixelKernels& k, TileScratch& s) {
    if (job.residuals)
        decode_tile_into(data, job.sub, job.level, job.index, k, s.planes, s.residual,
                         kTileRowBytes);
    const uint8_t* prediction =
        synthesise_tile_into(data.base_tex[job.sub], job.tc, job.tr, job.level, s.synth_even,
                             s.synth_odd, k.upsample_step);
    const uint8_t* core = prediction + kSynthMargin * kSynthRowBytes + kSynthMargin * 4;
    if (job.residuals)
        k.add_residual(core, kSynthRowBytes, s.residual, kTileRowBytes, s.final_tile,
                       kTileRowBytes);
    else
        copy_prediction_core(core, kSynthRowBytes, s.final_tile, kTileRowBytes);
}

void make_tile(const Picture& picture, const TileJob& job, const PixelKernels& k, TileScratch& s) {
    if (picture.file)
        picture.file->make_tile(job, s);
    else
        make_tile(*picture.folder, job, k, s);
}
