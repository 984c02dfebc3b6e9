// The decoder's kernel entries: the reference versions, the processor's versions, and the entries
// in use.
#include "decoder/kernels.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "decoder/colour.h"
#include "decoder/lifting.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define QUORVIK_X86_64 1
#endif

CpuFeatures detect_cpu_features() {
    CpuFeatures f;
#ifdef QUORVIK_X86_64
    __builtin_cpu_init();
    f.sse2 = true;  // part of x86-64's baseline
    f.avx2 = __builtin_cpu_supports("avx2");
    // Families 15h and 17h (up to Zen 2) run pdep/pext in microcode.
    f.fast_bmi2 = f.avx2 && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt") &&
                  !(__builtin_cpu_is("amdfam15h") || __builtin_cpu_is("amdfam17h"));
#endif
    return f;
}

DecoderKernels reference_decoder_kernels() {
    DecoderKernels k;
    k.name = "reference";
    k.decode_channel = decode_channel_record_reference;
    k.inverse_wavelet = inverse_wavelet_reference;
    k.ycbcr_to_rgb = ycbcr_to_rgb_tile_reference;
    k.tile_filter_row = tile_filter_row_reference;
    return k;
}

DecoderKernels decoder_kernels_for(const CpuFeatures& cpu) {
    DecoderKernels k = reference_decoder_kernels();
#ifdef QUORVIK_X86_64
    if (cpu.sse2) {
        k.name = "sse2";
        k.decode_channel = decode_channel_record_plain;
        k.inverse_wavelet = inverse_wavelet_sse2;
        k.ycbcr_to_rgb = ycbcr_to_rgb_tile_sse2;
    }
    if (cpu.sse2 && cpu.avx2) {
        k.name = "avx2";
        k.inverse_wavelet = inverse_wavelet_avx2;
        k.ycbcr_to_rgb = ycbcr_to_rgb_tile_avx2;
        k.tile_filter_row = tile_filter_row_avx2;
    }
    if (cpu.sse2 && cpu.avx2 && cpu.fast_bmi2) {
        k.name = "avx2+bmi2";
        k.decode_channel = decode_channel_record_wide;
    }
#else
    (void)cpu;
#endif
    return k;
}

bool reference_kernels_requested() {
    const char* force = getenv("QUORVIK_REFERENCE_KERNELS");
    return force && *force && strcmp(force, "0") != 0;
}

namespace {

std::atomic<const DecoderKernels*> whole_table{nullptr};

// Used until the whole table exists: made on first use, like it.
const DecoderKernels& start_up_entries() {
    static const DecoderKernels k = reference_kernels_requested()
                                        ? reference_decoder_kernels()
                                        : decoder_kernels_for(detect_cpu_features());
    return k;
}

}  // namespace

const DecoderKernels& decoder_kernels() {
    const DecoderKernels* table = whole_table.load(std::memory_order_acquire);
    return table ? *table : start_up_entries();
}

void use_decoder_kernels(const DecoderKernels* table) {
    whole_table.store(table, std::memory_order_release);
}
