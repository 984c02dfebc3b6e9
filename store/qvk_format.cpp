// The one-file picture form's geometry, header and index pages (store/qvk_format.h).
#include "store/qvk_format.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace {

uint32_t get_u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t get_u64(const uint8_t* p) {
    return uint64_t(get_u32(p)) | uint64_t(get_u32(p + 4)) << 32;
}
void put_u32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void put_u64(uint8_t* p, uint64_t v) {
    put_u32(p, uint32_t(v));
    put_u32(p + 4, uint32_t(v >> 32));
}

// zlib's crc32 takes at most 4 GiB - 1 at a time; pages and headers are far smaller.
uint32_t crc_of(const uint8_t* p, size_t n) {
    return uint32_t(crc32(0L, p, uInt(n)));
}

std::string format(const char* fmt, unsigned long long a = 0, unsigned long long b = 0,
                   unsigned long long c = 0, unsigned long long d = 0) {
    char text[200];
    snprintf(text, sizeof text, fmt, a, b, c, d);
    return text;
}

uint32_t ceil_shift(uint32_t v, int s) {
    return uint32_t((uint64_t(v) + (uint64_t(1) << s) - 1) >> s);
}

bool side_ok(uint32_t v) {
    return v >= 1 && v <= kQvkMaxSide;
}

// Names the allowed sizes nearest to `tile`, the fix a reader of the message wants.
std::string bad_tile_size(uint32_t tile) {
    if (tile < uint32_t(kQvkMinTileSize))
        return format("unsupported tile size %llu (this program reads %llu)", tile,
                      kQvkMinTileSize);
    if (tile > uint32_t(kQvkMaxTileSize))
        return format("unsupported tile size %llu (this program reads %llu)", tile,
                      kQvkMaxTileSize);
    uint32_t below = kQvkMinTileSize;
    while (below * 2 < tile) below *= 2;
    return format("unsupported tile size %llu (this program reads %llu or %llu)", tile, below,
                  below * 2);
}

}  // namespace

int qvk_level_count(uint32_t width, uint32_t height, int tile) {
    const uint64_t side = width > height ? width : height;
    if (tile < 1) return 0;
    int levels = 1;
    while ((side + (uint64_t(1) << (levels - 1)) - 1) >> (levels - 1) > uint64_t(tile)) ++levels;
    return levels;
}

uint64_t qvk_index_length(const QvkLevel& level) {
    return kQvkTileEntryBytes * uint64_t(level.tiles_x) * level.tiles_y +
           kQvkPageCrcBytes * uint64_t(level.pages_x) * level.pages_y;
}

void qvk_layout(QvkHeader& h) {
    uint64_t offset = h.header_size();
    for (int l = 1; l <= h.levels; ++l) {
        QvkLevel& v = h.level[l];
        const int shift = h.levels - l;
        v.width = ceil_shift(h.width, shift);
        v.height = ceil_shift(h.height, shift);
        v.tiles_x = uint32_t((uint64_t(v.width) + h.tile_size - 1) / uint64_t(h.tile_size));
        v.tiles_y = uint32_t((uint64_t(v.height) + h.tile_size - 1) / uint64_t(h.tile_size));
        v.pages_x = (v.tiles_x + kQvkPageTiles - 1) / kQvkPageTiles;
        v.pages_y = (v.tiles_y + kQvkPageTiles - 1) / kQvkPageTiles;
        if (!v.stored()) {
            v.index_offset = v.index_length = 0;
            continue;
        }
        v.index_offset = offset;
        v.index_length = qvk_index_length(v);
        offset += v.index_length;
    }
    h.data_offset = offset;
}

void qvk_derive_levels(QvkHeader& h, int span) {
    const int most = qvk_max_reduce(h.coder, h.tile_size);
    span = span < 0 ? 0 : span > most ? most : span;
    for (int l = h.levels; l >= 1; --l) h.level[l].reduce = (h.levels - l) % (span + 1);
}

QvkPageRef qvk_page_of(const QvkLevel& level, uint32_t tx, uint32_t ty) {
    QvkPageRef r;
    const uint32_t P = kQvkPageTiles;
    r.px = tx / P;
    r.py = ty / P;
    r.width = level.tiles_x - r.px * P < P ? level.tiles_x - r.px * P : P;
    r.height = level.tiles_y - r.py * P < P ? level.tiles_y - r.py * P : P;
    const uint64_t tiles_before =
        uint64_t(r.py) * P * level.tiles_x + uint64_t(r.px) * P * r.height;
    const uint64_t pages_before = uint64_t(r.py) * level.pages_x + r.px;
    r.offset =
        level.index_offset + kQvkTileEntryBytes * tiles_before + kQvkPageCrcBytes * pages_before;
    r.bytes = kQvkTileEntryBytes * uint64_t(r.width) * r.height + kQvkPageCrcBytes;
    r.slot = (ty - r.py * P) * r.width + (tx - r.px * P);
    return r;
}

void qvk_write_header(const QvkHeader& h, uint8_t* out) {
    const size_t size = h.header_size();
    memset(out, 0, size);
    memcpy(out, kQvkMagic, 8);
    put_u32(out + 8, h.version);
    put_u32(out + 12, uint32_t(size));
    put_u64(out + 16, h.file_length);
    put_u32(out + 24, h.width);
    put_u32(out + 28, h.height);
    put_u32(out + 32, uint32_t(h.levels));
    put_u32(out + 36, uint32_t(h.tile_size));
    put_u32(out + 40, h.coder);
    put_u32(out + 44, h.coder_param);
    put_u64(out + 48, h.data_offset);
    for (int l = 1; l <= h.levels; ++l) {
        uint8_t* e = out + kQvkFixedHeaderBytes + kQvkLevelEntryBytes * size_t(l - 1);
        put_u64(e, h.level[l].index_offset);
        put_u64(e + 8, h.level[l].index_length);
    }
    put_u32(out + size - 4, crc_of(out, size - 4));
}

std::string qvk_read_header(const uint8_t* bytes, size_t n, uint64_t actual_length, QvkHeader& h,
                            size_t* needed) {
    if (needed) *needed = 0;
    // The magic first, on whatever bytes there are: a short file that starts otherwise is not
    // a picture at all.
    for (size_t i = 0; i < n && i < 8; ++i)
        if (bytes[i] != kQvkMagic[i]) return "not a QUORVIK picture (wrong magic)";
    if (actual_length == 0) return "not a QUORVIK picture (wrong magic)";
    // How many bytes the header takes: the fixed part, then (from its level count) the rest.
    auto short_of = [&](size_t want) -> std::string {
        if (actual_length < want)
            return format("truncated: the header needs %llu bytes, the file has %llu", want,
                          actual_length);
        if (needed) *needed = want;
        return format("the header needs %llu bytes, %llu were read", want, n);
    };
    if (n < 12) return short_of(kQvkFixedHeaderBytes);
    const uint32_t version = get_u32(bytes + 8);
    if (version != kQvkVersion)
        return format("unsupported version %llu (this program reads version 1)", version);
    if (n < kQvkFixedHeaderBytes) return short_of(kQvkFixedHeaderBytes);

    const uint32_t width = get_u32(bytes + 24), height = get_u32(bytes + 28);
    const uint32_t levels = get_u32(bytes + 32);
    const uint32_t tile_size = get_u32(bytes + 36);
    const bool tile_ok = qvk_tile_size_ok(tile_size);
    const int expect_levels = qvk_level_count(width, height, tile_ok ? int(tile_size) : 1);
    auto bad_levels = [&] {
        char text[160];
        snprintf(text, sizeof text, "bad level count %u (a %ux%u picture in %u-pixel tiles has %d)",
                 levels, width, height, tile_size, expect_levels);
        return std::string(text);
    };
    if (levels < 1 || levels > uint32_t(kQvkMaxLevels)) {
        if (!side_ok(width) || !side_ok(height))
            return format("bad picture size %llux%llu (each side must be 1..2097152)", width,
                          height);
        if (!tile_ok) return bad_tile_size(tile_size);
        return bad_levels();
    }
    const size_t size = qvk_header_size(int(levels));
    const uint32_t header_size = get_u32(bytes + 12);
    if (header_size != size)
        return format("bad header size %llu (a header of %llu levels has %llu bytes)", header_size,
                      levels, size);
    if (n < size) return short_of(size);
    if (get_u32(bytes + size - 4) != crc_of(bytes, size - 4)) return "header checksum mismatch";

    QvkHeader r;
    r.version = version;
    r.file_length = get_u64(bytes + 16);
    r.width = width;
    r.height = height;
    r.levels = int(levels);
    r.coder = get_u32(bytes + 40);
    r.coder_param = get_u32(bytes + 44);
    r.data_offset = get_u64(bytes + 48);
    if (actual_length < r.file_length)
        return format("truncated: the header gives %llu bytes, the file has %llu", r.file_length,
                      actual_length);
    if (actual_length > r.file_length)
        return format("%llu bytes beyond the length the header gives (%llu)",
                      actual_length - r.file_length, r.file_length);
    if (!side_ok(width) || !side_ok(height))
        return format("bad picture size %llux%llu (each side must be 1..2097152)", width, height);
    if (!tile_ok) return bad_tile_size(tile_size);
    if (int(levels) != expect_levels) return bad_levels();
    if (!qvk_coder_ok(r.coder)) return format("unknown tile coder %llu", r.coder);
    if (r.data_offset < size)
        return format("the tiles' start (%llu) lies inside the header (%llu bytes)", r.data_offset,
                      size);
    if (r.data_offset > r.file_length)
        return format("the tiles' start (%llu) lies outside the file (%llu bytes)", r.data_offset,
                      r.file_length);

    // The geometry follows from the size; which levels are derived follows from the entries that
    // are 0, 0; the index regions are the file's to place.
    r.tile_size = int(tile_size);
    const int most_reduce = qvk_max_reduce(r.coder, r.tile_size);
    for (int l = r.levels; l >= 1; --l) {
        const uint8_t* e = bytes + kQvkFixedHeaderBytes + kQvkLevelEntryBytes * size_t(l - 1);
        if (get_u64(e) != 0 || get_u64(e + 8) != 0) continue;
        if (l == r.levels) return "the finest level has no index";
        if (most_reduce == 0)
            return format(
                "level %llu has no index (tile coder %llu in %llu-pixel tiles derives "
                "no levels)",
                unsigned(l), r.coder, tile_size);
        r.level[l].reduce = r.level[l + 1].reduce + 1;
        if (r.level[l].reduce > most_reduce)
            return format(
                "level %llu lies %llu levels above the nearest stored level (at most "
                "%llu with %llu-pixel tiles)",
                unsigned(l), unsigned(r.level[l].reduce), unsigned(most_reduce), tile_size);
    }
    qvk_layout(r);
    r.data_offset = get_u64(bytes + 48);
    for (int l = 1; l <= r.levels; ++l) {
        const uint8_t* e = bytes + kQvkFixedHeaderBytes + kQvkLevelEntryBytes * size_t(l - 1);
        QvkLevel& v = r.level[l];
        if (!v.stored()) continue;
        const uint64_t offset = get_u64(e), length = get_u64(e + 8);
        if (length != v.index_length)
            return format("index of level %llu has %llu bytes, its tiles need %llu", unsigned(l),
                          length, v.index_length);
        if (offset < size) return format("index of level %llu overlaps the header", unsigned(l));
        if (offset > r.data_offset || length > r.data_offset - offset)
            return format("index of level %llu points outside the file", unsigned(l));
        v.index_offset = offset;
        for (int k = 1; k < l; ++k) {
            const QvkLevel& o = r.level[k];
            if (offset < o.index_offset + o.index_length && o.index_offset < offset + length)
                return format("index of level %llu overlaps the index of level %llu", unsigned(l),
                              unsigned(k));
        }
    }
    h = r;
    return "";
}

std::string qvk_check_page(const QvkPageRef& ref, const uint8_t* bytes) {
    const size_t entries = size_t(ref.bytes) - kQvkPageCrcBytes;
    if (get_u32(bytes + entries) != crc_of(bytes, entries)) return "index page checksum mismatch";
    return "";
}

QvkTileEntry qvk_page_entry(const uint8_t* page, uint32_t slot) {
    const uint8_t* p = page + kQvkTileEntryBytes * size_t(slot);
    QvkTileEntry e;
    e.offset = get_u64(p);
    e.length = get_u32(p + 8);
    e.crc = get_u32(p + 12);
    return e;
}

void qvk_put_page_entry(uint8_t* page, uint32_t slot, const QvkTileEntry& e) {
    uint8_t* p = page + kQvkTileEntryBytes * size_t(slot);
    put_u64(p, e.offset);
    put_u32(p + 8, e.length);
    put_u32(p + 12, e.crc);
}

void qvk_seal_page(const QvkPageRef& ref, uint8_t* page) {
    const size_t entries = size_t(ref.bytes) - kQvkPageCrcBytes;
    put_u32(page + entries, crc_of(page, entries));
}

std::string qvk_check_entry(const QvkHeader& h, const QvkTileEntry& e) {
    const uint32_t most = qvk_max_tile_bytes(h.tile_size);
    if (e.length < 1 || e.length > most)
        return format("tile entry has length %llu (must be 1..%llu)", e.length, most);
    if (e.offset < h.data_offset || e.offset > h.file_length || e.length > h.file_length - e.offset)
        return "tile entry points outside the file";
    return "";
}
