#include "render/tile_cache.h"

uint64_t tile_key(int sub, int level, int index, bool residuals) {
    return uint64_t(uint32_t(index)) | uint64_t(uint8_t(sub)) << 32 |
           uint64_t(uint8_t(level)) << 40 | uint64_t(residuals ? 1 : 0) << 48;
}

void TileCache::set_budget(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    budget_ = bytes;
    evict_to(budget_);
}

size_t TileCache::budget() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return budget_;
}

size_t TileCache::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lru_.size() * kEntryBytes;
}

size_t TileCache::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lru_.size();
}

TileRef TileCache::find(uint64_t key) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = index_.find(key);
    if (it == index_.end()) {
        ++misses_;
        return nullptr;
    }
    ++hits_;
    lru_.splice(lru_.begin(), lru_, it->second);
    return it->second->tile;
}

bool TileCache::contains(uint64_t key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return index_.count(key) != 0;
}

void TileCache::insert(uint64_t key, TileRef tile) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = index_.find(key);
    if (it != index_.end()) {
        it->second->tile = std::move(tile);
        lru_.splice(lru_.begin(), lru_, it->second);
        return;
    }
    if (budget_ < kEntryBytes) return;
    evict_to(budget_ - kEntryBytes);
    lru_.push_front(Entry{key, std::move(tile)});
    index_[key] = lru_.begin();
}

void TileCache::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    index_.clear();
    lru_.clear();
}

void TileCache::evict_to(size_t bytes) {
    while (!lru_.empty() && lru_.size() * kEntryBytes > bytes) {
        index_.erase(lru_.back().key);
        lru_.pop_back();
    }
}

uint64_t TileCache::hits() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hits_;
}

uint64_t TileCache::misses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return misses_;
}

void TileCache::reset_counts() {
    std::lock_guard<std::mutex> lock(mutex_);
    hits_ = misses_ = 0;
}
