#include "render/engine.h"

#include <algorithm>
#include <cstring>

#include "render/view.h"
#include "store/data_set.h"

namespace {

// Tiles per chunk: bounds the memory a frame holds at once (each tile 17 KB) however many tiles
// it shows, e.g. "always highest resolution" far above the image.
constexpr int kChunkTiles = 512;
// Bands per thread: rows differ in cost (tile edges, the image's edge), so a few bands per thread
// keep every thread busy to the end of a pass.
constexpr int kBandsPerThread = 4;
constexpr int kMinBandRows = 8;

}  // namespace

struct RenderEngine::Slot {
    TileScratchBuffers tile;
    DrawScratch draw;
    std::vector<std::shared_ptr<CachedTile>> own;  // per-frame tiles when the cache is off
    size_t next_own = 0;                           // first of them not in use in this chunk
    std::vector<int> covered_from, covered_to;     // per band row: columns the tiles draw
};

namespace {

// Clears the pixels of the band that none of the tiles will draw, instead of the whole band:
// where the tiles cover the window, nothing. Per row the columns the tiles draw are gathered as
// one interval; a row whose tiles leave a gap between them is cleared whole.
void clear_uncovered(const FrameRows& band, const std::vector<FrameTile>& tiles,
                     std::vector<int>& from, std::vector<int>& to) {
    const int rows = band.y_end - band.y_begin;
    constexpr int kNone = -1, kGap = -2;
    from.assign(size_t(rows), kNone);
    to.assign(size_t(rows), 0);
    for (const FrameTile& t : tiles) {
        int x0, x1, y0, y1;
        if (!tile_screen_rect(t.corners, band.width, band.height, x0, x1, y0, y1)) continue;
        if (y0 < band.y_begin) y0 = band.y_begin;
        if (y1 > band.y_end) y1 = band.y_end;
        for (int y = y0; y < y1; ++y) {
            int& lo = from[size_t(y - band.y_begin)];
            int& hi = to[size_t(y - band.y_begin)];
            if (lo == kGap) continue;
            if (lo == kNone) {
                lo = x0;
                hi = x1;
            } else if (x0 <= hi && x1 >= lo) {
                lo = std::min(lo, x0);
                hi = std::max(hi, x1);
            } else {
                lo = kGap;
            }
        }
    }
    for (int y = band.y_begin; y < band.y_end; ++y) {
        uint32_t* row = band.pixels + size_t(y) * band.width;
        const int lo = from[size_t(y - band.y_begin)], hi = to[size_t(y - band.y_begin)];
        if (lo < 0) {
            memset(row, 0, size_t(band.width) * 4);
            continue;
        }
        memset(row, 0, size_t(lo) * 4);
        memset(row + hi, 0, size_t(band.width - hi) * 4);
    }
}

}  // namespace

RenderEngine::RenderEngine()
    : pool_(new WorkerPool(available_cores())), cache_(kDefaultCacheBytes) {
    for (int i = 0; i < pool_->threads(); ++i) slots_.emplace_back(new Slot());
}

RenderEngine::~RenderEngine() {
    // The workers go first: their idle work uses the slots.
    pool_.reset();
}

void RenderEngine::configure(int threads, size_t cache_bytes) {
    if (threads <= 0) threads = available_cores();
    if (threads != pool_->threads()) {
        pool_.reset();
        slots_.clear();
        pool_.reset(new WorkerPool(threads));
        for (int i = 0; i < threads; ++i) slots_.emplace_back(new Slot());
    } else {
        cancel_prefetch();
    }
    cache_.set_budget(cache_bytes);
    cache_.reset_counts();
    std::lock_guard<std::mutex> lock(prefetch_mutex_);
    prefetch_queue_.clear();
    prefetched_ = 0;
}

void RenderEngine::band_pass(const FrameRows& frame, bool clear,
                             const std::function<void(const FrameRows&, Slot&)>& draw) {
    const int rows = frame.y_end - frame.y_begin;
    if (rows <= 0) return;
    int bands = pool_->threads() == 1 ? 1 : pool_->threads() * kBandsPerThread;
    bands = std::max(1, std::min(bands, rows / kMinBandRows));
    pool_->run(bands, [&](int b, int slot) {
        FrameRows band = frame;
        band.y_begin = frame.y_begin + int(int64_t(rows) * b / bands);
        band.y_end = frame.y_begin + int(int64_t(rows) * (b + 1) / bands);
        if (clear)
            memset(frame.pixels + size_t(band.y_begin) * frame.width, 0,
                   size_t(band.y_end - band.y_begin) * frame.width * 4);
        if (draw) draw(band, *slots_[slot]);
    });
}

void RenderEngine::clear_frame(const FrameRows& frame) {
    band_pass(frame, true, nullptr);
}

void RenderEngine::draw_base_frame(const FrameRows& frame, const DataSet& data,
                                   const ViewRect& rect, bool bilinear, const PixelKernels& k) {
    // The level-1 kernels write every pixel of their rows.
    band_pass(frame, false, [&](const FrameRows& band, Slot& s) {
        k.draw_base(band, rect, data.base_tex_packed, bilinear, s.draw);
    });
}

void RenderEngine::use_kernels(const PixelKernels& k) {
    if (std::memcmp(&k, &cached_with_, sizeof k) == 0) return;
    cancel_prefetch();
    cache_.clear();
    cached_with_ = k;
}

void RenderEngine::draw_tile_frame(const FrameRows& frame, const Picture& picture,
                                   const std::vector<FrameTile>& tiles, bool bilinear,
                                   const PixelKernels& k) {
    use_kernels(k);
    const bool caching = cache_on();
    bool first = true;
    for (size_t begin = 0; begin < tiles.size() || first; begin += kChunkTiles) {
        const size_t end = std::min(tiles.size(), begin + kChunkTiles);
        const int n = int(end - begin);
        chunk_refs_.assign(size_t(n), nullptr);
        chunk_missing_.clear();
        for (int i = 0; i < n; ++i) {
            const TileJob& j = tiles[begin + i].job;
            if (caching)
                chunk_refs_[i] = cache_.find(tile_key(j.sub, j.level, j.index, j.residuals));
            if (!chunk_refs_[i]) chunk_missing_.push_back(i);
        }
        for (auto& slot : slots_) slot->next_own = 0;
        pool_->run(int(chunk_missing_.size()), [&](int m, int slot) {
            const int i = chunk_missing_[m];
            const TileJob& j = tiles[begin + i].job;
            Slot& s = *slots_[slot];
            make_tile(picture, j, k, s.tile.scratch());
            std::shared_ptr<CachedTile> out;
            if (caching) {
                out = std::make_shared<CachedTile>();
            } else {
                // The thread's own buffers, reused chunk after chunk, frame after frame.
                if (s.next_own == s.own.size()) s.own.push_back(std::make_shared<CachedTile>());
                out = s.own[s.next_own++];
            }
            pack_tile_words(s.tile.scratch().final_tile, kTileRowBytes, out->words);
            if (caching) cache_.insert(tile_key(j.sub, j.level, j.index, j.residuals), out);
            chunk_refs_[i] = std::move(out);
        });
        band_pass(frame, false, [&](const FrameRows& band, Slot& s) {
            if (first) clear_uncovered(band, tiles, s.covered_from, s.covered_to);
            for (int i = 0; i < n; ++i) {
                const FrameTile& t = tiles[begin + i];
                int x0, x1, y0, y1;
                if (!tile_screen_rect(t.corners, band.width, band.height, x0, x1, y0, y1) ||
                    y1 <= band.y_begin || y0 >= band.y_end)
                    continue;
                k.draw_tile(band, t.corners, chunk_refs_[i]->words, bilinear, s.draw);
            }
        });
        first = false;
        // The slots' own buffers are free again for the next chunk.
        chunk_refs_.clear();
        if (tiles.empty()) break;
    }
}

void RenderEngine::prefetch(const Picture& picture, std::vector<TileJob> jobs,
                            const PixelKernels& k) {
    if (!cache_on() || pool_->threads() < 2) return;
    use_kernels(k);
    {
        std::lock_guard<std::mutex> lock(prefetch_mutex_);
        prefetch_queue_.assign(jobs.begin(), jobs.end());
        prefetch_picture_ = picture;
        prefetch_kernels_ = k;
    }
    pool_->set_idle_work([this](int slot) { return prefetch_step(slot); });
}

void RenderEngine::cancel_prefetch() {
    {
        std::lock_guard<std::mutex> lock(prefetch_mutex_);
        prefetch_queue_.clear();
    }
    pool_->set_idle_work(nullptr);
}

size_t RenderEngine::prefetch_pending() const {
    std::lock_guard<std::mutex> lock(prefetch_mutex_);
    return prefetch_queue_.size();
}

uint64_t RenderEngine::prefetched() const {
    std::lock_guard<std::mutex> lock(prefetch_mutex_);
    return prefetched_;
}

bool RenderEngine::prefetch_step(int slot) {
    TileJob job;
    Picture picture;
    PixelKernels k;
    for (;;) {
        std::lock_guard<std::mutex> lock(prefetch_mutex_);
        if (prefetch_queue_.empty()) return false;
        job = prefetch_queue_.front();
        prefetch_queue_.pop_front();
        if (!cache_.contains(tile_key(job.sub, job.level, job.index, job.residuals))) {
            picture = prefetch_picture_;
            k = prefetch_kernels_;
            break;
        }
    }
    Slot& s = *slots_[slot];
    make_tile(picture, job, k, s.tile.scratch());
    auto out = std::make_shared<CachedTile>();
    pack_tile_words(s.tile.scratch().final_tile, kTileRowBytes, out->words);
    cache_.insert(tile_key(job.sub, job.level, job.index, job.residuals), std::move(out));
    std::lock_guard<std::mutex> lock(prefetch_mutex_);
    ++prefetched_;
    return !prefetch_queue_.empty();
}

void RenderEngine::release() {
    cancel_prefetch();
    cache_.clear();
    for (auto& slot : slots_) slot->own.clear();
}

namespace {
RenderEngine* g_engine = nullptr;
}  // namespace

RenderEngine& render_engine() {
    static RenderEngine engine;
    g_engine = &engine;
    return engine;
}

void release_render_engine() {
    if (g_engine) g_engine->release();
}
