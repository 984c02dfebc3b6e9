// The tile cache's budget and its least-recently-used order, and the worker pool's jobs and
// idle work.
#include <gtest/gtest.h>

#include <algorithm>
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

// Idle steps run on the workers while no job does; once a job has begun, a worker finishes at
// most the step it is in, so while a job item sleeps, at most one step per worker can end.
TEST(WorkerPool, IdleWorkRunsOnlyBetweenJobsAndStopsWhenRemoved) {
    WorkerPool pool(3);
    std::atomic<int> steps{0};
    std::atomic<bool> on_caller{false};
    pool.set_idle_work([&](int slot) {
        if (slot == 0) on_caller = true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        ++steps;
        return true;
    });
    int most_during_a_job = 0;
    for (int round = 0; round < 20; ++round) {
        const int before = steps.load();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (steps.load() < before + 4 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        ASSERT_GE(steps.load(), before + 4) << "no idle work between jobs";
        std::atomic<int> most{0};
        pool.run(4, [&](int, int) {
            const int a = steps.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            const int ended = steps.load() - a;
            int m = most.load();
            while (ended > m && !most.compare_exchange_weak(m, ended)) {
            }
        });
        most_during_a_job = std::max(most_during_a_job, most.load());
    }
    EXPECT_LE(most_during_a_job, 2);  // the two workers' steps in flight when a job began
    EXPECT_FALSE(on_caller.load());
    pool.set_idle_work(nullptr);
    const int after = steps.load();
    pool.wake_idle();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(steps.load(), after);
}

TEST(WorkerPool, CoresAreCounted) {
    EXPECT_GE(available_cores(), 1);
}

}  // namespace
