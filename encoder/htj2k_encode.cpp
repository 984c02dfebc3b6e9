// HTJ2K coding through OpenJPH (encoder/htj2k_encode.h).
#include "encoder/htj2k_encode.h"

#include <algorithm>
#include <cmath>

#include "decoder/htj2k_codestream.h"
#include "decoder/htj2k_decode.h"
#include "decoder/openjph.h"
#include "decoder/openjph_headers.h"
#include "decoder/tile_filter.h"
#include "encoder/clones.h"
#include "encoder/tile_filter_design.h"

namespace {

// One colour channel of a row of RGB pixels into the library's line of samples.
QV_CLONES void widen_channel(const uint8_t* __restrict rgb, int w, int32_t* __restrict out) {
    for (int x = 0; x < w; ++x) out[x] = rgb[3 * x];
}

bool fail(std::vector<uint8_t>& out, std::string* error, std::string why) {
    out.clear();
    if (error) *error = std::move(why);
    return false;
}

// Fits the restoration filter to `out` decoded and, when it helps, inserts its comment segment
// at the end of the main header (before the tile's SOT: lengths after it do not move).
bool add_restoration_filter(const uint8_t* rgb, size_t stride, int width, int height,
                            std::vector<uint8_t>& out, std::string* error) {
    // Planes with a pixel of room on every side for the fit's repeated edges; kept per thread so
    // that tile after tile takes no page faults.
    thread_local std::vector<int16_t> decoded;
    const size_t pw = size_t(width) + 2, size = pw * (size_t(height) + 2);
    decoded.resize(3 * size);
    int16_t* planes[3];
    for (int c = 0; c < 3; ++c) planes[c] = decoded.data() + size_t(c) * size + pw + 1;
    std::string why;
    if (!decode_htj2k_planes(out.data(), out.size(), width, height, planes, pw, &why))
        return fail(out, error, "the codestream just written does not decode: " + why);
    const TileFilter f = design_tile_filter_planes(rgb, stride, planes, pw, width, height);
    if (!f.on()) return true;
    size_t pos = 2;  // after SOC
    while (pos + 4 <= out.size() && !(out[pos] == 0xFF && out[pos + 1] == 0x90))
        pos += 2 + (size_t(out[pos + 2]) << 8 | out[pos + 3]);
    if (pos + 4 > out.size()) return fail(out, error, "the codestream just written has no tile");
    const std::vector<uint8_t> segment = tile_filter_segment(f);
    out.insert(out.begin() + ptrdiff_t(pos), segment.begin(), segment.end());
    return true;
}

}  // namespace

bool encode_htj2k(const uint8_t* rgb, size_t stride, int width, int height,
                  const Htj2kEncodeParams& params, std::vector<uint8_t>& out, std::string* error) {
    if (width < 1 || height < 1 || width > kHtj2kMaxSide || height > kHtj2kMaxSide)
        return fail(out, error, "block size out of range");
    if (stride < size_t(width) * 3) return fail(out, error, "stride too small");
    if (params.levels < 0 || params.levels > kHtj2kMaxLevels)
        return fail(out, error, "levels out of range");
    // A step finer than a sixteenth of a grey level only spends bytes on 8-bit samples' noise.
    if (!std::isfinite(params.qstep) || params.qstep < 1.0f / 4096 || params.qstep > 1.0f)
        return fail(out, error, "qstep out of range");

    openjph_start();
    ojph::codestream cs;
    ojph::mem_outfile file;
    std::string why;
    const bool ok = openjph_guarded(
        [&] {
            cs.set_planar(false);  // the colour transform takes the three components' lines
                                   // interleaved
            ojph::param_siz siz = cs.access_siz();
            siz.set_image_extent(ojph::point(ojph::ui32(width), ojph::ui32(height)));
            siz.set_image_offset(ojph::point(0, 0));
            siz.set_tile_size(ojph::size(ojph::ui32(width), ojph::ui32(height)));
            siz.set_tile_offset(ojph::point(0, 0));
            siz.set_num_components(3);
            for (ojph::ui32 c = 0; c < 3; ++c) siz.set_component(c, ojph::point(1, 1), 8, false);
            ojph::param_cod cod = cs.access_cod();
            cod.set_num_decomposition(ojph::ui32(htj2k_levels_for(width, height, params.levels)));
            cod.set_block_dims(64, 64);
            cod.set_color_transform(true);
            cod.set_reversible(false);
            cs.access_qcd().set_irrev_quant(params.qstep);

            file.open(size_t(width) * size_t(height) / 2 + 1024);
            cs.write_headers(&file);
            ojph::ui32 c = 0;
            ojph::line_buf* line = cs.exchange(nullptr, c);
            for (int y = 0; y < height; ++y) {
                const uint8_t* row = rgb + size_t(y) * stride;
                for (int k = 0; k < 3; ++k) {
                    if (!line || c != ojph::ui32(k) || line->size < size_t(width))
                        throw "the library asked for lines out of order";
                    widen_channel(row + k, width, line->i32);
                    line = cs.exchange(line, c);
                }
            }
            cs.flush();
            const ojph::si64 n = file.tell();
            out.assign(file.get_data(), file.get_data() + n);
            cs.close();
        },
        &why);
    if (!ok) return fail(out, error, why);
    if (params.restoration_filter)
        return add_restoration_filter(rgb, stride, width, height, out, error);
    return true;
}
