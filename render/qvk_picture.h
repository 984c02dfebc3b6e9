#pragma once
// A one-file picture as the renderer sees it: its levels' scales and the level a camera height
// chooses, its tiles made on demand (read, checked, decoded), and its minimap. A tile that cannot
// be read is drawn from the nearest coarser level that reads well, or black, and named once in a
// warning line; the viewer goes on.
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "render/picture.h"
#include "render/tile.h"
#include "store/qvk_file.h"
#include "store/raw_image.h"

class QvkPicture {
  public:
    // Opens `path`; null, with `error` set to "PATH: fault", when it is not a sound picture file.
    static std::unique_ptr<QvkPicture> open(const std::string& path, std::string& error);
    explicit QvkPicture(std::unique_ptr<QvkFile> file) : file_(std::move(file)) {}

    const QvkFile& file() const { return *file_; }
    const std::string& name() const { return file_->name(); }
    int levels() const { return file_->levels(); }
    const QvkLevel& level(int l) const { return file_->level(l); }
    uint32_t width() const { return file_->header().width; }
    uint32_t height() const { return file_->header().height; }

    // World units per pixel of level l: two at the finest level, twice as many each level down.
    float scale(int l) const { return float(uint32_t(2) << (levels() - l)); }
    // The level a camera at `height` shows: the finest up to height 625, one level coarser each
    // time the height doubles after that (the folder form's steps, continued), the finest always
    // with `hiqu`.
    int choose_level(float height, bool hiqu) const;
    // Where the picture lies in world coordinates: top-left corner at (0, 0).
    PictureGeometry geometry() const;

    // The job for tile (tx, ty) of level l.
    static TileJob job(const QvkLevel& level, int l, int tx, int ty, bool residuals);
    // Makes the job's tile in s.final_tile. Safe on any thread.
    void make_tile(const TileJob& job, TileScratch& s) const;

    // The whole picture at most `max_side` pixels on its longer side (at least one on the
    // other), packed 0x00RRGGBB, averaged from the coarsest level that has that many pixels.
    // False when memory runs out.
    bool make_minimap(int max_side, RawImage& out) const;

    // Where the warnings go (standard error unless set).
    void set_warning_stream(FILE* out) { warn_out_ = out; }
    // Tiles warned about so far.
    size_t warnings() const;

  private:
    // Decodes tile (tx, ty) of level l into `out` (64 rows of 64 four-byte pixels); false with
    // `why` set when it cannot be read.
    bool decode(int l, uint32_t tx, uint32_t ty, TileScratch& s, uint8_t* out,
                std::string& why) const;
    void warn(int l, int tx, int ty, const std::string& why, int shown_from) const;

    std::unique_ptr<QvkFile> file_;
    FILE* warn_out_ = stderr;
    mutable std::mutex warned_mutex_;
    mutable std::unordered_set<uint64_t> warned_;
};
