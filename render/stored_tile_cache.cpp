// The decoded stored tiles of a one-file picture (render/stored_tile_cache.h).
#include "render/stored_tile_cache.h"

namespace {

// A damaged tile is kept too (its fault, not its pixels), so that its render tiles do not read it
// again; it costs what its entry does, give or take.
constexpr size_t kEntryBytes = 128;

}  // namespace

StoredTileCache::Ptr StoredTileCache::get(uint64_t key, const std::function<Ptr()>& load) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto it = entries_.find(key);
    if (it != entries_.end()) {
        lru_.splice(lru_.begin(), lru_, it->second.at);
        const std::shared_future<Ptr> value = it->second.value;
        lock.unlock();
        return value.get();  // waits while another thread makes it
    }
    std::promise<Ptr> promise;
    lru_.push_front(key);
    Entry& fresh = entries_[key];
    fresh.value = promise.get_future().share();
    fresh.at = lru_.begin();
    ++loads_;
    lock.unlock();

    Ptr p = load();
    lock.lock();
    Entry& made = entries_.find(key)->second;  // never evicted while being made
    made.ready = true;
    made.bytes = p->pixels.size() + kEntryBytes;
    bytes_ += made.bytes;
    evict(key);
    lock.unlock();
    promise.set_value(p);
    return p;
}

void StoredTileCache::evict(uint64_t keep) {
    for (auto at = lru_.end(); bytes_ > max_bytes_ && at != lru_.begin();) {
        --at;
        if (*at == keep) continue;
        auto it = entries_.find(*at);
        if (!it->second.ready) continue;
        bytes_ -= it->second.bytes;
        entries_.erase(it);
        at = lru_.erase(at);
    }
}

size_t StoredTileCache::bytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

size_t StoredTileCache::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

uint64_t StoredTileCache::loads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return loads_;
}
