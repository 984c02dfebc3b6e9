// The kernel table: the reference versions, the processor's versions, and the active table.
#include "render/kernels.h"

#include "render/raster.h"
#include "render/synth.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define QUORVIK_X86_64 1
#endif

PixelKernels reference_kernels() {
    PixelKernels k;
    static_cast<DecoderKernels&>(k) = reference_decoder_kernels();
    k.upsample_step = upsample_step_plain;
    k.add_residual = add_residual_tile_plain;
    k.draw_tile = draw_tile_rows_plain;
    k.draw_base = draw_base_rows_plain;
    return k;
}

PixelKernels kernels_for(const CpuFeatures& cpu) {
    PixelKernels k = reference_kernels();
    static_cast<DecoderKernels&>(k) = decoder_kernels_for(cpu);
#ifdef QUORVIK_X86_64
    if (cpu.sse2) {
        k.upsample_step = upsample_step_sse2;
        k.add_residual = add_residual_tile_sse2;
        k.draw_tile = draw_tile_rows_sse2;
        k.draw_base = draw_base_rows_sse2;
    }
#endif
    return k;
}

namespace {

PixelKernels start_up_kernels() {
    if (reference_kernels_requested()) return reference_kernels();
    return kernels_for(detect_cpu_features());
}

// Made on first use, so that no static initialiser elsewhere can see an empty table. The decoder
// reads its entries from here from then on.
struct Active {
    PixelKernels table = start_up_kernels();
    bool forced = table.decode_channel == decode_channel_record_reference;
    Active() { use_decoder_kernels(&table); }
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
