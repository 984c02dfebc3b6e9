#pragma once
// Making one tile of levels 2..5: decode its residual, predict it from the base texture, add the
// two. One reentrant function over explicit inputs; the viewer's named steps (decode_tile,
// synthesise_tile, add_residual) are its single-threaded form over the program-wide work images.
#include "render/kernels.h"
#include "render/tile_scratch.h"

struct DataSet;
struct Picture;

struct TileJob {
    int sub;         // sub-image, column + 4 * row
    int level;       // 2..5
    int tc, tr;      // tile column and row inside the sub-image
    int index;       // slot in the sub-image's tile index: tr * tiles across + tc
    bool residuals;  // decode and add the residual ("add compressed residuals")
};

// Makes the final tile of `job` in s.final_tile. Touches only `s`: safe on any thread, as long as
// `data` and the kernel table `k` do not change meanwhile.
void make_tile(const DataSet& data, const TileJob& job, const PixelKernels& k, TileScratch& s);
// The same for either form of picture.
void make_tile(const Picture& picture, const TileJob& job, const PixelKernels& k, TileScratch& s);
