#pragma once
// Which implementation of the pixel kernels (inverse_wavelet, ycbcr_to_rgb_tile) the viewer uses.
// Chosen once at start-up (static initialisation) from the CPU's features (AVX2 if the CPU has
// it, else SSE2 on x86-64, else the plain reference); tests and the benchmark
// may switch explicitly. Every set gives bit-identical output.
enum class KernelSet { reference, sse2, avx2 };

KernelSet active_kernel_set();
void select_kernel_set(KernelSet set);  // falls back to reference when unavailable
bool kernel_set_available(KernelSet set);
const char* kernel_set_name(KernelSet set);
