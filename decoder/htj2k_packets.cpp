// Packet-header walk before OpenJPH parses a tile (decoder/htj2k_packets.h).
#include "decoder/htj2k_packets.h"

#include <vector>

namespace {

constexpr int kBlockLog = 6;  // 64x64 code blocks

// Packet-header bits: after a 0xFF byte the next byte gives only its low seven bits.
class BitReader {
  public:
    BitReader(const uint8_t* data, size_t n, size_t pos) : data_(data), n_(n), pos_(pos) {}
    bool bit(uint32_t& b) {
        if (avail_ == 0) {
            if (pos_ >= n_) return false;
            byte_ = data_[pos_++];
            avail_ = last_ff_ ? 7 : 8;
            last_ff_ = byte_ == 0xFF;
        }
        b = (byte_ >> --avail_) & 1;
        return true;
    }
    bool bits(int count, uint32_t& v) {
        v = 0;
        for (int i = 0; i < count; ++i) {
            uint32_t b;
            if (!bit(b)) return false;
            v = v << 1 | b;
        }
        return true;
    }
    // Ends the header at a byte boundary; a header whose last byte is 0xFF owns the next one.
    bool finish(size_t& pos) {
        if (last_ff_) {
            if (pos_ >= n_) return false;
            ++pos_;
        }
        pos = pos_;
        return true;
    }

  private:
    const uint8_t* data_;
    size_t n_, pos_;
    uint8_t byte_ = 0;
    int avail_ = 0;
    bool last_ff_ = false;
};

// A tag tree over a w x h grid of code blocks, with every node's value still unknown.
class TagTree {
  public:
    TagTree(uint32_t w, uint32_t h) {
        do {
            level_.push_back({w, h, std::vector<Node>(size_t(w) * h)});
            w = (w + 1) / 2;
            h = (h + 1) / 2;
        } while (level_.back().w > 1 || level_.back().h > 1);
    }
    // Inclusion in the first layer: is the leaf's value 0? Reads at most one bit a node.
    bool included(BitReader& br, uint32_t x, uint32_t y, bool& ok) {
        for (size_t l = level_.size(); l-- > 0;) {
            Node& node = at(l, x >> l, y >> l);
            if (!node.known) {
                uint32_t b;
                if (!br.bit(b)) return ok = false;
                node.known = true;
                node.value = b ? 0 : 1;  // 1 stands for "not in this layer"
            }
            if (node.value != 0) return false;
        }
        return true;
    }
    // The leaf's full value (missing bit-planes), each node counting on from its parent's.
    bool value(BitReader& br, uint32_t x, uint32_t y, uint32_t limit, uint32_t& v) {
        uint32_t parent = 0;
        for (size_t l = level_.size(); l-- > 0;) {
            Node& node = at(l, x >> l, y >> l);
            if (!node.known) {
                node.value = parent;
                for (uint32_t b = 0; !b;) {
                    if (!br.bit(b) || node.value > limit) return false;
                    node.value += 1 - b;
                }
                node.known = true;
            }
            parent = node.value;
        }
        v = parent;
        return true;
    }

  private:
    struct Node {
        uint32_t value = 0;
        bool known = false;
    };
    struct Level {
        uint32_t w, h;
        std::vector<Node> nodes;
    };
    Node& at(size_t l, uint32_t x, uint32_t y) {
        return level_[l].nodes[size_t(y) * level_[l].w + x];
    }
    std::vector<Level> level_;
};

struct Band {
    uint32_t w, h;  // samples
    int exponent;
};

// One packet: header, then the code blocks' bytes. Moves `pos` past it.
std::string check_packet(const uint8_t* data, size_t n, size_t& pos, const Band* bands, int count,
                         int guard) {
    BitReader br(data, n, pos);
    uint32_t nonempty;
    if (!br.bit(nonempty)) return "packet header runs past the data";
    uint64_t body = 0;
    if (nonempty) {
        for (int s = 0; s < count; ++s) {
            const uint32_t bw = (bands[s].w + (1u << kBlockLog) - 1) >> kBlockLog;
            const uint32_t bh = (bands[s].h + (1u << kBlockLog) - 1) >> kBlockLog;
            const uint32_t kmax = uint32_t(guard + bands[s].exponent - 1);
            TagTree inclusion(bw, bh), missing(bw, bh);
            for (uint32_t y = 0; y < bh; ++y)
                for (uint32_t x = 0; x < bw; ++x) {
                    bool ok = true;
                    if (!inclusion.included(br, x, y, ok)) {
                        if (!ok) return "packet header runs past the data";
                        continue;
                    }
                    uint32_t planes = 0;
                    if (!missing.value(br, x, y, kmax, planes) || planes >= kmax)
                        return "a code block misses more bit-planes than its band has";
                    // Passes: 1, 2, 3 + 2 bits, 6 + 5 bits, 37 + 7 bits; we write at most a
                    // cleanup and a refinement segment (three passes).
                    uint32_t b, passes = 1;
                    if (!br.bit(b)) return "packet header runs past the data";
                    if (b) {
                        passes = 2;
                        if (!br.bit(b)) return "packet header runs past the data";
                        if (b) {
                            if (!br.bits(2, b)) return "packet header runs past the data";
                            passes = 3 + b;
                        }
                    }
                    if (passes > 3) return "a code block has placeholder passes";
                    uint32_t lblock = 3;
                    for (b = 1; b;) {
                        if (!br.bit(b)) return "packet header runs past the data";
                        lblock += b;
                        if (lblock > 16) return "a code block's length field is too wide";
                    }
                    uint32_t cleanup = 0, refinement = 0;
                    if (!br.bits(int(lblock), cleanup)) return "packet header runs past the data";
                    if (cleanup < 2 || cleanup >= 65535)
                        return "a code block's cleanup segment length is out of range";
                    if (passes > 1) {
                        if (!br.bits(int(lblock + (passes > 2)), refinement))
                            return "packet header runs past the data";
                        if (refinement >= 2047)
                            return "a code block's refinement segment length is out of range";
                    }
                    body += cleanup + refinement;
                }
        }
    }
    if (!br.finish(pos)) return "packet header runs past the data";
    if (body > n - pos) return "a packet's code blocks run past the data";
    pos += size_t(body);
    return "";
}

}  // namespace

std::string check_htj2k_packets(const uint8_t* data, size_t n, const Htj2kTileLayout& layout) {
    if (layout.levels < 0 || layout.levels > 16) return "levels out of range";
    size_t pos = 0;
    for (int r = 0; r <= layout.levels; ++r) {
        // Resolution r is the picture shrunk 2^(levels - r) times, rounding up.
        const int shift = layout.levels - r;
        const uint32_t rw = uint32_t((int64_t(layout.width) + (int64_t(1) << shift) - 1) >> shift);
        const uint32_t rh = uint32_t((int64_t(layout.height) + (int64_t(1) << shift) - 1) >> shift);
        Band bands[3];
        int count = 0;
        if (r == 0) {
            bands[count++] = {rw, rh, layout.exponent[0]};
        } else {
            // HL takes the odd columns, LH the odd rows, HH both.
            const int first = 3 * (r - 1) + 1;
            bands[count++] = {rw / 2, (rh + 1) / 2, layout.exponent[first]};
            bands[count++] = {(rw + 1) / 2, rh / 2, layout.exponent[first + 1]};
            bands[count++] = {rw / 2, rh / 2, layout.exponent[first + 2]};
        }
        for (int s = 0; s < count; ++s)
            if (bands[s].w == 0 || bands[s].h == 0) return "a band is empty";
        for (int c = 0; c < 3; ++c) {
            std::string fault = check_packet(data, n, pos, bands, count, layout.guard);
            if (!fault.empty()) return fault;
        }
    }
    if (pos != n) return "the packets end before the tile's data does";
    return "";
}
