// The kernel table: the reference versions, the processor's versions, and the active table.
#include "decoder/kernels.h"

#include <cstdlib>
#include <cstring>

#include "decoder/colour.h"
#include "decoder/lifting.h"
#include "render/raster.h"
#include "render/synth.h"

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

PixelKernels reference_kernels() {
    PixelKernels k;
    k.name = "reference";
    k.decode_channel = decode_channel_record_reference;
    k.inverse_wavelet = inverse_wavelet_reference;
    k.ycbcr_to_rgb = ycbcr_to_rgb_tile_reference;
    k.upsample_step = upsample_step_plain;
    k.add_residual = add_residual_tile_plain;
    k.draw_tile = draw_tile_rows_plain;
    k.draw_base = draw_base_rows_plain;
    return k;
}

PixelKernels kernels_for(const CpuFeatures& cpu) {
    PixelKernels k = reference_kernels();
#ifdef QUORVIK_X86_64
    if (cpu.sse2) {
        k.name = "sse2";
        k.decode_channel = decode_channel_record_plain;
        k.inverse_wavelet = inverse_wavelet_sse2;
        k.ycbcr_to_rgb = ycbcr_to_rgb_tile_sse2;
        k.upsample_step = upsample_step_sse2;
        k.add_residual = add_residual_tile_sse2;
        k.draw_tile = draw_tile_rows_sse2;
        k.draw_base = draw_base_rows_sse2;
    }
    if (cpu.sse2 && cpu.avx2) {
        k.name = "avx2";
        k.inverse_wavelet = inverse_wavelet_avx2;
        k.ycbcr_to_rgb = ycbcr_to_rgb_tile_avx2;
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

namespace {

PixelKernels start_up_kernels() {
    const char* force = getenv("QUORVIK_REFERENCE_KERNELS");
    if (force && *force && strcmp(force, "0") != 0) return reference_kernels();
    return kernels_for(detect_cpu_features());
}

// Made on first use, so that no static initialiser elsewhere can see an empty table.
struct Active {
    PixelKernels table = start_up_kernels();
    bool forced = table.decode_channel == decode_channel_record_reference;
};
Active& active() {
    static Active a;
    return a;
}

}  // namespace

const PixelKernels& kernels() {
    return active().table;
}

void set_kernels(const PixelKernels& table) {
    active().table = table;
    active().forced = false;
}

void force_reference_kernels(bool on) {
    active().table = on ? reference_kernels() : kernels_for(detect_cpu_features());
    active().forced = on;
}

bool reference_kernels_forced() {
    return active().forced;
}
