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

// Which flag scan the fast EZW decoder (decode_channel_record) runs:
//   plain:     eight flags at a time, portable C++ (every CPU);
//   avx2_bmi2: 32 flags at a time with AVX2, the symbols of the active ones spread over the
//              block with BMI2's pdep/pext (ezw_decode_avx2.cpp).
// Chosen once at start-up: avx2_bmi2 where the CPU has AVX2, BMI2 and POPCNT and pdep/pext are
// not microcoded (AMD before family 19h runs them in microcode, far slower than the plain scan).
// Tests and the benchmark may switch. Both give identical planes, statuses and counts.
enum class EzwScan { plain, avx2_bmi2 };

EzwScan active_ezw_scan();
void select_ezw_scan(EzwScan scan);  // falls back to plain when unavailable
bool ezw_scan_available(EzwScan scan);
const char* ezw_scan_name(EzwScan scan);
