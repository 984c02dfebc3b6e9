#pragma once
// Reconstructed tiles kept between frames, bounded in bytes, least recently used out first.
// A tile is keyed by sub-image, level, tile slot and whether residuals were added, so a change of
// the residual switch never serves a tile made under the other setting. Thread-safe: the frame
// looks tiles up while the workers insert what they made or prefetched.
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "render/raster.h"

// A final tile in the form the drawing kernels read (render/raster.h).
struct CachedTile {
    alignas(16) uint32_t words[kPaddedTileWords];
};
using TileRef = std::shared_ptr<const CachedTile>;

uint64_t tile_key(int sub, int level, int index, bool residuals);

class TileCache {
  public:
    // What one tile costs against the budget: its words and the bookkeeping around them.
    static constexpr size_t kEntryBytes = sizeof(CachedTile) + 128;

    explicit TileCache(size_t budget_bytes = 0) : budget_(budget_bytes) {}

    // Changes the budget, dropping least recently used tiles until the rest fits.
    void set_budget(size_t bytes);
    size_t budget() const;
    size_t bytes() const;  // what the tiles held now count against the budget
    size_t size() const;   // tiles held

    // The tile, marked as used most recently; null when absent. Counts a hit or a miss.
    TileRef find(uint64_t key);
    // Whether the tile is held, without counting or reordering (for prefetching).
    bool contains(uint64_t key) const;
    // Adds (or replaces) a tile as the most recently used one, dropping least recently used
    // tiles to stay within the budget. A budget too small for even this tile keeps nothing.
    void insert(uint64_t key, TileRef tile);
    void clear();

    uint64_t hits() const;
    uint64_t misses() const;
    void reset_counts();

  private:
    struct Entry {
        uint64_t key;
        TileRef tile;
    };
    void evict_to(size_t bytes);  // mutex held

    mutable std::mutex mutex_;
    size_t budget_;
    std::list<Entry> lru_;  // most recently used first
    std::unordered_map<uint64_t, std::list<Entry>::iterator> index_;
    uint64_t hits_ = 0, misses_ = 0;
};
