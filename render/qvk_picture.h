#pragma once
// A one-file picture as the renderer sees it: its levels' scales and the level a camera height
// chooses, its tiles made on demand (read, checked, decoded), and its minimap. A tile that cannot
// be read is drawn from the nearest coarser level that reads well, or black, and named once in a
// warning line; the viewer goes on.
//
// The renderer draws 64 x 64 tiles whatever size the file stores: render tile (tx, ty) of a
// level lies in stored tile (tx * 64 / S, ty * 64 / S), S the stored tile's side in that level's
// pixels (T for a file of T-pixel tiles, T >> reduce for a level derived from a finer one). A
// file of 64-pixel tiles is decoded straight into the render tile; larger stored tiles, and the
// reduced decodes that give derived levels, are decoded once into a cache shared by the threads
// that draw. Warnings name the stored tile whose bytes are at fault.
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "render/picture.h"
#include "render/stored_tile_cache.h"
#include "render/tile_borders.h"
#include "render/tile.h"
#include "store/qvk_file.h"
#include "store/raw_image.h"

class QvkPicture {
  public:
    // Opens `path`; null, with `error` set to "PATH: fault", when it is not a sound picture file.
    static std::unique_ptr<QvkPicture> open(const std::string& path, std::string& error);
    explicit QvkPicture(std::unique_ptr<QvkFile> file);

    const QvkFile& file() const { return *file_; }
    const std::string& name() const { return file_->name(); }
    int levels() const { return file_->levels(); }
    const QvkLevel& level(int l) const { return file_->level(l); }
    uint32_t width() const { return file_->header().width; }
    uint32_t height() const { return file_->header().height; }
    int tile_size() const { return file_->header().tile_size; }  // stored tiles' side
    // The side, in pixels of level l, of what one stored tile gives it: the tile size, halved for
    // each level a derived level lies above its stored one.
    int stored_side(int l) const { return tile_size() >> level(l).reduce; }
    // The render tile grid of level l: 64-pixel tiles, whatever size the file stores.
    uint32_t render_tiles_x(int l) const { return render_tiles(level(l).width); }
    uint32_t render_tiles_y(int l) const { return render_tiles(level(l).height); }
    static uint32_t render_tiles(uint32_t pixels) {
        return uint32_t((uint64_t(pixels) + kTilePixels - 1) / kTilePixels);
    }

    // World units per pixel of level l: two at the finest level, twice as many each level down.
    float scale(int l) const { return float(uint32_t(2) << (levels() - l)); }
    // The level a camera at `height` shows: the finest up to height 625, one level coarser each
    // time the height doubles after that (the folder form's steps, continued), the finest always
    // with `hiqu`.
    int choose_level(float height, bool hiqu) const;
    // Where the picture lies in world coordinates: top-left corner at (0, 0).
    PictureGeometry geometry() const;

    // The job for render tile (tx, ty) of level l.
    static TileJob job(const QvkLevel& level, int l, int tx, int ty, bool residuals);
    // Makes the job's tile in s.final_tile. Safe on any thread.
    void make_tile(const TileJob& job, TileScratch& s) const;

    // The whole picture at most `max_side` pixels on its longer side (at least one on the
    // other), packed 0x00RRGGBB, averaged from the coarsest level that has that many pixels.
    // False when memory runs out.
    bool make_minimap(int max_side, RawImage& out) const;

    // How the stored tiles' borders are smoothed (set from the file; tests turn it off).
    const BorderFilter& border_filter() const { return filter_; }
    void set_border_filter(const BorderFilter& f) { filter_ = f; }

    // Where the warnings go (standard error unless set).
    void set_warning_stream(FILE* out) { warn_out_ = out; }
    // Stored tiles warned about so far.
    size_t warnings() const;

    // Bytes of decoded stored tiles kept at most (files of tiles larger than 64 pixels): the 45
    // or so 512-pixel tiles a 3840 x 2160 view of the finest level touches, with room to move;
    // at 32 MiB such a view decoded some tiles twice a frame.
    static constexpr size_t kStoredCacheBytes = size_t(64) << 20;
    // The decoded stored tiles (empty for a file of 64-pixel tiles).
    const StoredTileCache& stored_cache() const { return stored_; }

  private:
    // Stored tile pixels: `rows` of four-byte pixels `stride` bytes apart, which `hold` (when
    // set) keeps alive.
    struct Pixels {
        const uint8_t* rows = nullptr;
        size_t stride = 0;
        StoredTileCache::Ptr hold;
    };
    // Decodes what stored tile (tx, ty) gives level l into `out` (stored_side(l) rows of as many
    // four-byte pixels, rows `stride` bytes apart); false with `why` set when it cannot be read.
    bool decode(int l, uint32_t tx, uint32_t ty, std::vector<uint8_t>& coded, uint8_t* out,
                size_t stride, std::string& why) const;
    // Stored tile (tx, ty) of level l: decoded into `scratch` (64 x 64 pixels, rows
    // kTileRowBytes apart) for a file of 64-pixel tiles, from the cache otherwise. False with
    // `why` set when it cannot be read.
    bool stored(int l, uint32_t tx, uint32_t ty, TileScratch& s, uint8_t* scratch, Pixels& out,
                std::string& why) const;
    void warn(int l, uint32_t tx, uint32_t ty, const std::string& why, int shown_from) const;
    // Makes render tile (X, Y) (its first pixel in level l), whose stored tile's pixels are
    // `own`, with the stored tiles' borders it touches smoothed (render/tile_borders.h). False,
    // leaving the tile to be cut as it is, when it touches none.
    bool smooth_borders(int l, uint32_t X, uint32_t Y, const Pixels& own, TileScratch& s) const;

    std::unique_ptr<QvkFile> file_;
    FILE* warn_out_ = stderr;
    mutable std::mutex warned_mutex_;
    mutable std::unordered_set<uint64_t> warned_;
    mutable StoredTileCache stored_{kStoredCacheBytes};
    BorderFilter filter_;  // off but for HTJ2K tiles
};
