// Reading a one-file picture on demand (store/qvk_file.h).
#include "store/qvk_file.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

// An index page as read: its bytes when sound, or the fault that stays with it (a checksum
// mismatch does not go away by reading again; a read error may, so it is never kept).
struct QvkFile::Page {
    std::vector<uint8_t> bytes;
    std::string fault;
};

std::unique_ptr<QvkFile> QvkFile::open(const std::string& path, std::string& error) {
    std::string why;
    std::unique_ptr<ByteSource> source = open_file_source(path, why);
    if (!source) {
        error = path + ": " + why;
        return nullptr;
    }
    return open(std::move(source), error);
}

std::unique_ptr<QvkFile> QvkFile::open(std::unique_ptr<ByteSource> source, std::string& error) {
    const uint64_t size = source->size();
    size_t n = size_t(std::min<uint64_t>(size, 4096));
    std::vector<uint8_t> bytes;
    QvkHeader h;
    std::string fault;
    for (;;) {
        bytes.resize(n);
        std::string why;
        if (!source->read(0, n, bytes.data(), why)) {
            error = source->name() + ": " + why;
            return nullptr;
        }
        size_t needed = 0;
        fault = qvk_read_header(bytes.data(), n, size, h, &needed);
        // The header is longer than what was read, and the file holds it: read again.
        if (fault.empty() || needed <= n || needed > size) break;
        n = needed;
    }
    if (!fault.empty()) {
        error = source->name() + ": " + fault;
        return nullptr;
    }
    std::unique_ptr<QvkFile> file(new QvkFile());
    file->source_ = std::move(source);
    file->header_ = h;
    return file;
}

std::shared_ptr<const QvkFile::Page> QvkFile::page(int l, const QvkPageRef& ref,
                                                   std::string& why) const {
    (void)l;  // pages are known by their offset, unique in the file
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = pages_.find(ref.offset);
        if (it != pages_.end()) {
            lru_.splice(lru_.begin(), lru_, it->second);
            const std::shared_ptr<const Page>& p = it->second->second;
            if (!p->fault.empty()) {
                why = p->fault;
                return nullptr;
            }
            return p;
        }
    }
    // Read and check outside the lock; two threads may both read a page, the first kept wins.
    auto fresh = std::make_shared<Page>();
    fresh->bytes.resize(size_t(ref.bytes));
    if (!source_->read(ref.offset, fresh->bytes.size(), fresh->bytes.data(), why)) return nullptr;
    fresh->fault = qvk_check_page(ref, fresh->bytes.data());
    if (!fresh->fault.empty()) fresh->bytes = {};

    std::shared_ptr<const Page> kept = fresh;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = pages_.find(ref.offset);
        if (it != pages_.end()) {
            lru_.splice(lru_.begin(), lru_, it->second);
            kept = it->second->second;
        } else {
            lru_.emplace_front(ref.offset, kept);
            pages_.emplace(ref.offset, lru_.begin());
            while (lru_.size() > kMaxCachedPages) {
                pages_.erase(lru_.back().first);
                lru_.pop_back();
            }
        }
    }
    if (!kept->fault.empty()) {
        why = kept->fault;
        return nullptr;
    }
    return kept;
}

bool QvkFile::read_tile(int l, uint32_t tx, uint32_t ty, std::vector<uint8_t>& out,
                        std::string& why) const {
    if (l < 1 || l > header_.levels || !header_.level[l].stored() ||
        tx >= header_.level[l].tiles_x || ty >= header_.level[l].tiles_y) {
        why = "no such tile";
        return false;
    }
    const QvkPageRef ref = qvk_page_of(header_.level[l], tx, ty);
    const std::shared_ptr<const Page> p = page(l, ref, why);
    if (!p) return false;
    const QvkTileEntry e = qvk_page_entry(p->bytes.data(), ref.slot);
    why = qvk_check_entry(header_, e);
    if (!why.empty()) return false;
    out.resize(e.length);
    if (!source_->read(e.offset, e.length, out.data(), why)) return false;
    if (uint32_t(crc32(0L, out.data(), uInt(out.size()))) != e.crc) {
        why = "tile checksum mismatch";
        return false;
    }
    return true;
}

size_t QvkFile::cached_pages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lru_.size();
}

bool is_qvk_path(const std::string& path) {
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".qvk") == 0) return true;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t magic[sizeof kQvkMagic];
    const bool match = fread(magic, 1, sizeof magic, f) == sizeof magic &&
                       memcmp(magic, kQvkMagic, sizeof magic) == 0;
    fclose(f);
    return match;
}
