#pragma once
// Decoded stored tiles of a one-file picture whose tiles are larger than the renderer's: one
// stored tile of 256 to 1024 pixels feeds 16 to 256 render tiles, drawn one at a time and often by
// several threads, so each is decoded once and kept while it is likely to be asked for again.
// Bounded in bytes, least recently used first out. A tile being decoded is shared: a second
// thread asking for it waits for the first instead of decoding it too.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// One stored tile: its pixels (tile x tile four-byte pixels, rows 4 * tile bytes apart), or,
// when it cannot be read, the fault (pixels then empty).
struct StoredTile {
    std::vector<uint8_t> pixels;
    std::string why;
    bool ok() const { return why.empty(); }
};

class StoredTileCache {
  public:
    using Ptr = std::shared_ptr<const StoredTile>;
    // Keeps at most `max_bytes` of tiles, but always the last one made, however large.
    explicit StoredTileCache(size_t max_bytes) : max_bytes_(max_bytes) {}

    // The tile under `key`, made by `load` (on this thread) when it is neither held nor being
    // made. `load` must not throw; faults go in the tile's `why`. Safe from several threads.
    Ptr get(uint64_t key, const std::function<Ptr()>& load);

    size_t bytes() const;    // held now, tiles being made not counted
    size_t entries() const;  // held or being made
    uint64_t loads() const;  // times `load` was called

  private:
    struct Entry {
        std::shared_future<Ptr> value;
        size_t bytes = 0;
        bool ready = false;
        std::list<uint64_t>::iterator at;  // in lru_
    };
    // Drops the least recently used tiles that are made until the bytes fit, keeping `keep`.
    void evict(uint64_t keep);

    const size_t max_bytes_;
    mutable std::mutex mutex_;
    std::list<uint64_t> lru_;  // most recent first
    std::unordered_map<uint64_t, Entry> entries_;
    size_t bytes_ = 0;
    uint64_t loads_ = 0;
};
