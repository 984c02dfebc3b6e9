#pragma once
// The render engine: draws one frame's tiles with every core and keeps reconstructed tiles in a
// cache between frames.
//
// A frame of levels 2..5 goes in chunks of tiles, in the frame's order:
//   1. the tiles of the chunk are looked up in the cache; the missing ones are made on the
//      worker pool (make_tile, each thread with its own scratch) and, with the cache on, kept;
//   2. the frame is drawn in bands of rows, one band per task: each band draws every tile of the
//      chunk that reaches it, in the frame's order, and only into its own rows.
// Every pixel is therefore written by the same tiles in the same order as on one thread, so the
// frame is identical, pixel for pixel, for any number of threads and with or without the cache.
// The first band pass of a frame also clears the pixels of the band that no tile will draw.
//
// Between frames the workers may fill the cache with tiles the frame after next will need (a
// flight's path is known in advance), one tile per idle step, so a frame never waits for more
// than one tile.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "render/kernels.h"
#include "render/picture.h"
#include "render/raster.h"
#include "render/tile.h"
#include "render/tile_cache.h"
#include "render/worker_pool.h"

struct DataSet;
struct ViewRect;

constexpr size_t kDefaultCacheBytes = size_t(256) << 20;

// One tile of the frame: where it goes on the screen and how it is made.
struct FrameTile {
    TileJob job;
    TileCorners corners;
};

class RenderEngine {
  public:
    RenderEngine();
    ~RenderEngine();
    RenderEngine(const RenderEngine&) = delete;
    RenderEngine& operator=(const RenderEngine&) = delete;

    // threads: 0 means every core; cache_bytes: 0 turns the cache off. Call between frames.
    void configure(int threads, size_t cache_bytes);
    int threads() const { return pool_->threads(); }
    bool cache_on() const { return cache_.budget() >= TileCache::kEntryBytes; }
    TileCache& cache() { return cache_; }
    const TileCache& cache() const { return cache_; }

    // The frame buffer is `frame` (width x height packed pixels); `data` and the kernel table `k`
    // must not change during the call. Each clears the frame first.
    void clear_frame(const FrameRows& frame);
    void draw_base_frame(const FrameRows& frame, const DataSet& data, const ViewRect& rect,
                         bool bilinear, const PixelKernels& k);
    void draw_tile_frame(const FrameRows& frame, const Picture& picture,
                         const std::vector<FrameTile>& tiles, bool bilinear, const PixelKernels& k);

    // Prefetching: makes these tiles into the cache in the workers' idle time, in this order,
    // skipping those already held; replaces any earlier list. Needs the cache and a worker.
    void prefetch(const Picture& picture, std::vector<TileJob> jobs, const PixelKernels& k);
    void cancel_prefetch();
    // Stops prefetching and frees every cached and per-frame tile.
    void release();
    size_t prefetch_pending() const;
    // Tiles made by prefetching since the engine was configured.
    uint64_t prefetched() const;

  private:
    struct Slot;  // one thread's scratch
    bool prefetch_step(int slot);
    void band_pass(const FrameRows& frame, bool clear,
                   const std::function<void(const FrameRows&, Slot&)>& draw);

    // Tiles are cached for one kernel table: all tables make the same tiles, but a frame drawn
    // with the reference kernels must really run them (tests, bench --baseline).
    void use_kernels(const PixelKernels& k);

    std::unique_ptr<WorkerPool> pool_;
    PixelKernels cached_with_{};
    std::vector<std::unique_ptr<Slot>> slots_;
    TileCache cache_;
    // A chunk's tiles: from the cache, or made this frame.
    std::vector<TileRef> chunk_refs_;
    std::vector<int> chunk_missing_;

    mutable std::mutex prefetch_mutex_;
    std::deque<TileJob> prefetch_queue_;
    Picture prefetch_picture_;
    PixelKernels prefetch_kernels_{};
    uint64_t prefetched_ = 0;
};

// The viewer's engine (and quorvik-tool's): every core, the default cache, until configured.
RenderEngine& render_engine();
// Stops the viewer's engine's idle work and empties its cache, if the engine exists: the exit
// routine calls it before the data set the workers read is released.
void release_render_engine();
