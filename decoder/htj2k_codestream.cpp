// Codestream checks before OpenJPH sees the bytes (decoder/htj2k_codestream.h).
#include "decoder/htj2k_codestream.h"

#include "decoder/htj2k_packets.h"

namespace {

constexpr uint16_t kSoc = 0xFF4F, kSiz = 0xFF51, kCap = 0xFF50, kCod = 0xFF52, kQcd = 0xFF5C,
                   kCom = 0xFF64, kSot = 0xFF90, kSod = 0xFF93, kEoc = 0xFFD9;
// Rsiz bit that announces HT code blocks; code-block style bit that selects them.
constexpr uint16_t kRsizHt = 0x4000;
constexpr uint8_t kStyleHt = 0x40;
constexpr size_t kSizLength = 38 + 3 * 3;  // three components
constexpr uint8_t kRpcl = 2;  // the progression order OpenJPH writes; the packet walk knows it
constexpr int kMaxMagnitudeBits = 30;

uint16_t be16(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}
uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::string check_siz(const uint8_t* s, uint32_t width, uint32_t height) {
    if (be16(s + 2) != kSizLength) return "SIZ is not that of a three-component picture";
    if (!(be16(s + 4) & kRsizHt)) return "SIZ does not announce HT code blocks";
    if (be32(s + 6) != width || be32(s + 10) != height)
        return "SIZ gives " + std::to_string(be32(s + 6)) + "x" + std::to_string(be32(s + 10)) +
               " pixels, the index " + std::to_string(width) + "x" + std::to_string(height);
    if (be32(s + 14) != 0 || be32(s + 18) != 0 || be32(s + 30) != 0 || be32(s + 34) != 0)
        return "SIZ places the picture or its tile away from the origin";
    if (be32(s + 22) < width || be32(s + 26) < height)
        return "SIZ splits the picture into several tiles";
    if (be16(s + 38) != 3) return "SIZ does not give three components";
    for (int c = 0; c < 3; ++c) {
        const uint8_t* comp = s + 40 + 3 * c;
        if (comp[0] != 7 || comp[1] != 1 || comp[2] != 1)
            return "SIZ component " + std::to_string(c) + " is not unsigned 8-bit at full size";
    }
    return "";
}

// `c` points at the COD marker, whose length is checked to be 12: no precinct sizes.
std::string check_cod(const uint8_t* c, int width, int height, Htj2kCodestreamInfo& info) {
    const uint8_t scod = c[4], order = c[5], mct = c[8];
    const uint16_t layers = be16(c + 6);
    const uint8_t levels = c[9], xcb = c[10], ycb = c[11], style = c[12], transform = c[13];
    if (scod != 0) return "COD asks for precincts, SOP or EPH markers";
    // (OpenJPH asserts, ending the process, on an order it does not know.)
    if (order != kRpcl) return "COD gives a progression order other than RPCL";
    if (layers != 1) return "COD gives other than one quality layer";
    if (mct != 1) return "COD does not use the colour transform";
    if (levels > htj2k_levels_for(width, height, kHtj2kMaxLevels))
        return "COD asks for " + std::to_string(levels) + " levels, more than the block takes";
    if (xcb != 4 || ycb != 4) return "COD gives code blocks other than 64x64";
    if (style != kStyleHt) return "COD does not select plain HT code blocks";
    if (transform != 0) return "COD does not select the irreversible 9/7 wavelet";
    info.levels = levels;
    return "";
}

// `q` points at the QCD marker, whose segment lies inside the bytes: one step (5-bit exponent,
// 11-bit mantissa) for each band of `levels` decompositions, and magnitudes that fit the
// library's 32-bit block decoder.
std::string check_qcd(const uint8_t* q, int levels, Htj2kTileLayout& layout) {
    const size_t bands = 3 * size_t(levels) + 1;
    if (be16(q + 2) != 3 + 2 * bands) return "QCD does not give one step per band";
    const uint8_t sqcd = q[4];
    if ((sqcd & 0x1F) != 2) return "QCD is not expounded scalar quantisation";
    layout.guard = sqcd >> 5;
    for (size_t b = 0; b < bands; ++b) {
        layout.exponent[b] = be16(q + 5 + 2 * b) >> 11;
        if (layout.guard + layout.exponent[b] - 1 > kMaxMagnitudeBits)
            return "QCD gives a band more magnitude bits than the decoder holds";
    }
    return "";
}

// CAP as OpenJPH writes it: HT capabilities only; the low five bits of Ccap carry the
// magnitude bound, which the QCD check covers.
std::string check_cap(const uint8_t* c) {
    if (be16(c + 2) != 8 || be32(c + 4) != 0x00020000 || (be16(c + 8) & 0xFFE0) != 0x0020)
        return "CAP does not describe plain HT code blocks";
    return "";
}

}  // namespace

std::string check_htj2k_codestream(const uint8_t* bytes, size_t n, int width, int height,
                                   Htj2kCodestreamInfo& info) {
    info = Htj2kCodestreamInfo{};
    if (width < 1 || height < 1 || width > kHtj2kMaxSide || height > kHtj2kMaxSide)
        return "block size out of range";
    // SOC, SIZ, a COD and a QCD of four bytes at least, SOT, SOD, EOC.
    if (n < 4 + kSizLength + 16 + 12 + 14 + 2) return "too short to be a codestream";
    if (be16(bytes) != kSoc || be16(bytes + 2) != kSiz) return "does not start with SOC, SIZ";
    std::string fault = check_siz(bytes + 2, uint32_t(width), uint32_t(height));
    if (!fault.empty()) return fault;

    size_t pos = 2 + 2 + kSizLength;
    int cods = 0, qcds = 0;
    size_t qcd = 0;
    for (;;) {
        if (n - pos < 4) return "main header runs past the end";
        const uint16_t marker = be16(bytes + pos);
        if (marker == kSot) break;
        // Only what our encoder writes: a segment that would change the coding of one
        // component or tile, or move packet headers, is refused rather than understood.
        if (marker != kCap && marker != kCod && marker != kQcd && marker != kCom)
            return "main header holds a segment we do not write";
        const size_t length = be16(bytes + pos + 2);
        if (length < 2 || length > n - pos - 2) return "main-header segment runs past the end";
        if (marker == kCod) {
            if (++cods > 1) return "two COD segments";
            if (length != 12) return "COD is not 12 bytes long";
            fault = check_cod(bytes + pos, width, height, info);
        } else if (marker == kQcd) {
            if (++qcds > 1) return "two QCD segments";
            qcd = pos;
        } else if (marker == kCap) {
            fault = check_cap(bytes + pos);
        } else if (marker == kCom) {
            TileFilter f;
            const int ours = parse_tile_filter(bytes + pos + 4, length - 2, f, &fault);
            if (ours > 0 && info.filter.on()) return "two tile filters";
            if (ours > 0) info.filter = f;
        }
        if (!fault.empty()) return fault;
        pos += 2 + length;
    }
    if (cods != 1 || qcds != 1) return "main header lacks COD or QCD";
    Htj2kTileLayout layout;
    layout.width = width;
    layout.height = height;
    layout.levels = info.levels;
    fault = check_qcd(bytes + qcd, info.levels, layout);
    if (!fault.empty()) return fault;

    // The one tile: SOT (length 10, tile 0, first and only piece), comments, SOD, data, EOC.
    if (n - pos < 12 + 2) return "tile header runs past the end";
    const uint8_t* sot = bytes + pos;
    if (be16(sot + 2) != 10 || be16(sot + 4) != 0 || sot[10] != 0 || sot[11] > 1)
        return "SOT is not that of the single tile";
    const uint32_t psot = be32(sot + 6);
    if (psot < 14 || psot != n - pos - 2) return "tile length does not end at EOC";
    if (be16(bytes + n - 2) != kEoc) return "does not end with EOC";
    const size_t tile_end = pos + psot;
    pos += 12;
    for (;;) {
        if (tile_end - pos < 2) return "tile header runs past its length";
        const uint16_t marker = be16(bytes + pos);
        if (marker == kSod) break;
        if (tile_end - pos < 4 || marker != kCom)
            return "tile header holds a segment we do not write";
        const size_t length = be16(bytes + pos + 2);
        if (length < 2 || length > tile_end - pos - 2) return "tile segment runs past its length";
        pos += 2 + length;
    }
    pos += 2;  // SOD
    return check_htj2k_packets(bytes + pos, tile_end - pos, layout);
}

int htj2k_levels_for(int width, int height, int wanted) {
    int levels = 0;
    int64_t w = width, h = height;
    while (levels < wanted && w >= 3 && h >= 3) {
        ++levels;
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
    return levels;
}
