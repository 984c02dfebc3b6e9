// The restoration filter of HTJ2K tiles (decoder/tile_filter.h).
#include "decoder/tile_filter.h"

#include "decoder/kernels.h"
#include "decoder/tile_filter_row.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kMagic[4] = {'Q', 'V', 'F', '1'};
constexpr size_t kFixed = 2 + 4 + 1;  // Rcom, magic, mask

int channels_in(uint8_t mask) {
    return (mask & 1) + (mask >> 1 & 1) + (mask >> 2 & 1);
}

// One channel of a row of w pixels (`pixel_bytes` apart) into `row`: w + 2 values, the edges
// repeated, row[1 .. w] the samples.
void load_row(const uint8_t* px, int w, int pixel_bytes, int16_t* row) {
    for (int x = 0; x < w; ++x) row[x + 1] = px[size_t(x) * size_t(pixel_bytes)];
    row[0] = row[1];
    row[w + 1] = row[w];
}

}  // namespace

void tile_filter_row_reference(const int8_t* taps, const int16_t* above, const int16_t* mid,
                               const int16_t* below, int w, int16_t* out) {
    tile_filter_row_body(taps, above, mid, below, w, out);
}

bool operator==(const TileFilter& a, const TileFilter& b) {
    return a.mask == b.mask && memcmp(a.taps, b.taps, sizeof a.taps) == 0;
}

std::vector<uint8_t> tile_filter_segment(const TileFilter& f) {
    const size_t length = 2 + kFixed + size_t(kTileFilterPairs) * size_t(channels_in(f.mask));
    std::vector<uint8_t> s;
    s.reserve(2 + length);
    for (const uint8_t b : {uint8_t(0xFF), uint8_t(0x64), uint8_t(length >> 8), uint8_t(length),
                            uint8_t(0), uint8_t(0)})
        s.push_back(b);
    for (const uint8_t b : kMagic) s.push_back(b);
    s.push_back(f.mask);
    for (int c = 0; c < 3; ++c)
        if (f.mask >> c & 1)
            for (int k = 0; k < kTileFilterPairs; ++k) s.push_back(uint8_t(f.taps[c][k]));
    return s;
}

int parse_tile_filter(const uint8_t* body, size_t n, TileFilter& f, std::string* why) {
    if (n < 6 || body[0] != 0 || body[1] != 0 || memcmp(body + 2, kMagic, 4) != 0) return 0;
    const auto damaged = [&](const char* what) {
        if (why) *why = what;
        return -1;
    };
    if (n < kFixed) return damaged("the tile filter has no channel mask");
    const uint8_t mask = body[6];
    if (mask == 0 || mask > 7) return damaged("the tile filter's channel mask is not 1-7");
    if (n != kFixed + size_t(kTileFilterPairs) * size_t(channels_in(mask)))
        return damaged("the tile filter's length does not match its channels");
    f = TileFilter{};
    f.mask = mask;
    const uint8_t* p = body + kFixed;
    for (int c = 0; c < 3; ++c)
        if (mask >> c & 1)
            for (int k = 0; k < kTileFilterPairs; ++k) f.taps[c][k] = int8_t(*p++);
    return 1;
}

void apply_tile_filter(const TileFilter& f, uint8_t* px, size_t stride, int w, int h,
                       int pixel_bytes, std::vector<int16_t>& scratch) {
    if (!f.on() || w < 1 || h < 1) return;
    const TileFilterRowFn row_fn = decoder_kernels().tile_filter_row;
    const size_t pw = size_t(w) + 2;
    // Three padded source rows (a ring: row y lives in slot y % 3) and the output row.
    scratch.resize(4 * pw);
    int16_t* slot[3] = {scratch.data(), scratch.data() + pw, scratch.data() + 2 * pw};
    int16_t* out = scratch.data() + 3 * pw;
    for (int c = 0; c < 3; ++c) {
        if (!(f.mask >> c & 1)) continue;
        load_row(px + c, w, pixel_bytes, slot[0]);
        for (int y = 0; y < h; ++y) {
            // Row y + 1 goes where row y - 2 was; rows y - 1 .. y + 1 are then in the ring, the
            // edges repeated.
            if (y + 1 < h)
                load_row(px + size_t(y + 1) * stride + c, w, pixel_bytes, slot[(y + 1) % 3]);
            const int16_t* above = slot[(y > 0 ? y - 1 : 0) % 3] + 1;
            const int16_t* mid = slot[y % 3] + 1;
            const int16_t* below = slot[(y + 1 < h ? y + 1 : y) % 3] + 1;
            row_fn(f.taps[c], above, mid, below, w, out);
            uint8_t* row = px + size_t(y) * stride + c;
            for (int x = 0; x < w; ++x) row[size_t(x) * size_t(pixel_bytes)] = uint8_t(out[x]);
        }
    }
}
