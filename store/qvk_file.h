#pragma once
// Reading a one-file picture on demand: opening reads and validates the header and the layout
// of the index; index pages are read (and checked) when a tile of theirs is first asked for and
// kept in a small cache; every tile is read with one range read and checked against its entry.
// Nothing here grows with the picture's size. All reads are safe from several threads at once.
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/byte_source.h"
#include "store/qvk_format.h"

class QvkFile {
  public:
    // Opens `path` and validates its header and index layout. Null, with `error` set to one line
    // "PATH: fault" (no line end), when the file cannot be read, is truncated, has the wrong magic
    // or version, or its header or index points outside the file or overlaps itself.
    static std::unique_ptr<QvkFile> open(const std::string& path, std::string& error);
    // The same over any byte source (tests, fuzzing, a remote source later).
    static std::unique_ptr<QvkFile> open(std::unique_ptr<ByteSource> source, std::string& error);

    const QvkHeader& header() const { return header_; }
    const std::string& name() const { return source_->name(); }
    int levels() const { return header_.levels; }
    const QvkLevel& level(int l) const { return header_.level[l]; }  // 1 (coarsest) .. levels()

    // Reads the coded bytes of tile (tx, ty) of level `l` into `out` (resized to the tile's
    // length). False, with `why` set to the fault ("index page checksum mismatch", "tile
    // checksum mismatch", "tile entry points outside the file", a read error, ...), when its index
    // page or its bytes are damaged; "no such tile" outside the level's grid or for a derived
    // level (its pixels are in the tiles of its stored level).
    bool read_tile(int l, uint32_t tx, uint32_t ty, std::vector<uint8_t>& out,
                   std::string& why) const;

    // Index pages held now, and the most the cache keeps.
    size_t cached_pages() const;
    static constexpr size_t kMaxCachedPages = 64;  // at most 4 MiB of entries

  private:
    QvkFile() = default;
    struct Page;
    // The page's bytes, read and checked once; null with `why` set when it is damaged.
    std::shared_ptr<const Page> page(int l, const QvkPageRef& ref, std::string& why) const;

    std::unique_ptr<ByteSource> source_;
    QvkHeader header_;
    mutable std::mutex mutex_;
    mutable std::list<std::pair<uint64_t, std::shared_ptr<const Page>>> lru_;
    mutable std::unordered_map<uint64_t, decltype(lru_)::iterator> pages_;
};

// Whether `path` names a one-file picture rather than a folder: it ends in ".qvk", or it is a
// file that starts with the form's magic. Reads at most the magic's bytes.
bool is_qvk_path(const std::string& path);
