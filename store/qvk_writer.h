#pragma once
// Writing a one-file picture: the header and every index region are laid out first (their sizes
// follow from the picture's size), tiles are appended as they come, in any order, and each index
// page is written into its place as soon as its last tile has come, so the writer holds only the
// pages still being filled. The file is written under a temporary name beside the target and
// renamed into place only when every tile is in.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "store/qvk_format.h"

class QvkWriter {
  public:
    QvkWriter() = default;
    ~QvkWriter();  // an unfinished file is removed
    QvkWriter(const QvkWriter&) = delete;
    QvkWriter& operator=(const QvkWriter&) = delete;

    // Creates the temporary file for a width x height picture with this coder, stored in
    // tile_size x tile_size tiles, `derive_span` levels derived between stored ones (clamped to
    // what the coder and tile size allow: qvk_derive_levels). False, with `error` set (one line
    // naming the path), when it cannot be created or the tile size is not one the form allows.
    bool begin(const std::string& path, uint32_t width, uint32_t height, QvkCoder coder,
               uint32_t coder_param, std::string& error, int tile_size = kQvkTileSize,
               int derive_span = 0);
    const QvkHeader& header() const { return header_; }

    // Appends tile (tx, ty) of stored level `l` (1..levels). Each tile exactly once. Safe from
    // several threads at once. False, with `error` set, when the tile does not exist, its length is
    // not 1..qvk_max_tile_bytes(tile size) or it came before (the file stays usable), or on a write
    // failure (the file is then unusable: finish fails).
    bool add_tile(int l, uint32_t tx, uint32_t ty, const uint8_t* bytes, size_t n,
                  std::string& error);

    // Writes the header and renames the file into place. False, with `error` set, when a tile is
    // missing or a write fails; the temporary file is then removed.
    bool finish(std::string& error);
    // Removes the temporary file (an interrupted build).
    void abort();

    // Bytes written so far.
    uint64_t bytes() const;

  private:
    // A page being filled. A slot is taken (its entry's length, never 0 for a tile, is set) when
    // its tile's bytes are reserved, and counted in `filled` once they are written.
    struct OpenPage {
        std::vector<uint8_t> bytes;
        uint32_t filled = 0;
    };
    std::string fail(const std::string& what) const;
    bool write_at(uint64_t offset, const void* data, size_t n, std::string& error);

    std::string path_, temp_;
    int fd_ = -1;
    QvkHeader header_;
    mutable std::mutex mutex_;
    uint64_t end_ = 0;  // where the next tile goes
    uint64_t tiles_added_ = 0, tiles_total_ = 0;
    std::map<uint64_t, OpenPage> open_pages_;  // by page offset
    // Pages written, one bit per page of each level (a tile of one of them is a duplicate); an
    // eighth of a byte per 4096 tiles.
    std::vector<bool> sealed_[kQvkMaxLevels + 1];
    bool failed_ = false;  // a write failed: the file is unusable
};
