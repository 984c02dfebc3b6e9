// The cache of decoded stored tiles: one decode however many threads ask at once, and a bound in
// bytes that keeps the most recently used tiles.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "render/stored_tile_cache.h"

namespace {

StoredTileCache::Ptr tile_of(size_t bytes, const char* why = "") {
    auto t = std::make_shared<StoredTile>();
    t->pixels.assign(bytes, 7);
    t->why = why;
    return t;
}

TEST(StoredTileCache, ThreadsAskingForOneTileShareOneDecode) {
    StoredTileCache cache(1 << 20);
    std::atomic<int> decodes{0};
    std::vector<StoredTileCache::Ptr> got(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < got.size(); ++i)
        threads.emplace_back([&, i] {
            got[i] = cache.get(42, [&] {
                ++decodes;
                // Slow enough that the other threads ask while it is being made.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return tile_of(1000);
            });
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(decodes.load(), 1);
    EXPECT_EQ(cache.loads(), 1u);
    for (const auto& p : got) EXPECT_EQ(p, got[0]);
}

TEST(StoredTileCache, KeepsTheMostRecentlyUsedWithinItsBytes) {
    // Tiles of 1000 bytes (1128 counted) in 4000 bytes: three fit.
    StoredTileCache cache(4000);
    int decodes = 0;
    auto get = [&](uint64_t key) {
        return cache.get(key, [&] {
            ++decodes;
            return tile_of(1000);
        });
    };
    const struct {
        uint64_t key;
        int decodes;                              // so far, after asking for it
    } steps[] = {{1, 1}, {2, 2}, {3, 3}, {1, 3},  // 1 is now the most recent
                 {4, 4},                          // 2, the least recent, goes
                 {1, 4}, {3, 4}, {2, 5}};
    for (const auto& s : steps) {
        get(s.key);
        EXPECT_EQ(decodes, s.decodes) << "key " << s.key;
        EXPECT_LE(cache.bytes(), 4000u);
    }
    EXPECT_EQ(cache.entries(), 3u);
    // A tile larger than the whole budget is still kept, alone, until the next one.
    StoredTileCache small(100);
    small.get(1, [] { return tile_of(500); });
    EXPECT_EQ(small.entries(), 1u);
    small.get(2, [] { return tile_of(500); });
    EXPECT_EQ(small.entries(), 1u);
    // A damaged tile is kept as its fault: asked for again, it is not read again.
    int reads = 0;
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(cache
                      .get(9,
                           [&] {
                               ++reads;
                               return tile_of(0, "tile checksum mismatch");
                           })
                      ->why,
                  "tile checksum mismatch");
    EXPECT_EQ(reads, 1);
}

}  // namespace
