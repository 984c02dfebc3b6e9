// The tile cache's budget and its least-recently-used order, and the worker pool's jobs and
// idle work.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "render/tile_cache.h"
#include "render/worker_pool.h"

namespace {

TileRef tile(uint32_t marker) {
    auto t = std::make_shared<CachedTile>();
    t->words[0] = marker;
    return t;
}

TEST(TileCache, StaysWithinItsBudgetAndDropsTheLeastRecentlyUsedFirst) {
    TileCache cache(3 * TileCache::kEntryBytes + TileCache::kEntryBytes / 2);
    for (uint32_t k = 1; k <= 3; ++k) cache.insert(k, tile(k));
    EXPECT_EQ(cache.size(), 3u);
    ASSERT_NE(cache.find(1), nullptr);  // 1 is now the most recently used, 2 the least
    cache.insert(4, tile(4));
    EXPECT_FALSE(cache.contains(2));
    for (uint32_t k : {1u, 3u, 4u}) EXPECT_TRUE(cache.contains(k)) << k;
    EXPECT_LE(cache.bytes(), cache.budget());
    // Replacing a held tile takes no more room and makes it the most recently used.
    cache.insert(3, tile(33));
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_EQ(cache.find(3)->words[0], 33u);
    cache.insert(5, tile(5));  // drops 1 (used before 4 and 3)
    EXPECT_FALSE(cache.contains(1));
    EXPECT_TRUE(cache.contains(4));
    // A smaller budget drops the least recently used until the rest fits.
    cache.set_budget(TileCache::kEntryBytes);
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_TRUE(cache.contains(5));
    // A budget smaller than one tile holds nothing.
    cache.set_budget(TileCache::kEntryBytes - 1);
    EXPECT_EQ(cache.size(), 0u);
    cache.insert(6, tile(6));
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_EQ(cache.find(6), nullptr);
}

TEST(TileCache, NeverExceedsItsBudgetUnderManyInsertsAndCountsHits) {
    const size_t budget = 50 * TileCache::kEntryBytes;
    TileCache cache(budget);
    for (uint32_t k = 0; k < 500; ++k) {
        cache.insert(k % 173, tile(k));
        ASSERT_LE(cache.bytes(), budget);
        if (k % 3 == 0) cache.find(k % 71);
    }
    EXPECT_EQ(cache.size(), 50u);
    EXPECT_GT(cache.hits() + cache.misses(), 0u);
    cache.reset_counts();
    EXPECT_EQ(cache.find(999999), nullptr);
    EXPECT_EQ(cache.misses(), 1u);
    EXPECT_EQ(cache.hits(), 0u);
}

TEST(TileCache, KeysTellEveryPartApart) {
    const uint64_t base = tile_key(3, 4, 1000, true);
    EXPECT_NE(base, tile_key(3, 4, 1000, false));
    EXPECT_NE(base, tile_key(2, 4, 1000, true));
    EXPECT_NE(base, tile_key(3, 5, 1000, true));
    EXPECT_NE(base, tile_key(3, 4, 1001, true));
    EXPECT_NE(tile_key(0, 5, 65535, true), tile_key(1, 5, 0, true));
}

TEST(WorkerPool, RunsEveryIndexOnceOnEverySlot) {
    for (int threads : {1, 2, 5}) {
        WorkerPool pool(threads);
        EXPECT_EQ(pool.threads(), threads);
        for (int round = 0; round < 20; ++round) {
            const int count = 1 + round * 37;
            std::vector<std::atomic<int>> seen(static_cast<size_t>(count));
            std::atomic<bool> bad_slot{false};
            pool.run(count, [&](int i, int slot) {
                if (slot < 0 || slot >= threads) bad_slot = true;
                seen[size_t(i)].fetch_add(1);
            });
            for (int i = 0; i < count; ++i) ASSERT_EQ(seen[size_t(i)].load(), 1) << i;
            EXPECT_FALSE(bad_slot.load());
        }
    }
}

TEST(WorkerPool, IdleWorkRunsOnlyBetweenJobsAndStopsWhenRemoved) {
    WorkerPool pool(3);
    std::atomic<int> in_job{0};  // job items running now
    std::atomic<bool> overlap{false};
    std::atomic<int> steps{0};
    pool.set_idle_work([&](int slot) {
        if (in_job.load() > 0 || slot == 0) overlap = true;
        ++steps;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        return steps.load() < 200;
    });
    for (int round = 0; round < 30; ++round) {
        // Steps that began before the job may still be finishing; none may begin during it.
        pool.run(4, [&](int, int) {
            ++in_job;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
            --in_job;
        });
        pool.wake_idle();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (steps.load() < 200 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GE(steps.load(), 200);
    pool.set_idle_work(nullptr);
    const int after = steps.load();
    pool.wake_idle();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(steps.load(), after);
    EXPECT_FALSE(overlap.load());
}

TEST(WorkerPool, CoresAreCounted) {
    EXPECT_GE(available_cores(), 1);
}

}  // namespace
