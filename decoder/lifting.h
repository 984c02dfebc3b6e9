#pragma once
// Inverse six-level 5/3 lifting wavelet transform of one 64 x 64 plane.
// Pixel maths only; the bitstream side is in ezw_decode.h.
//
// Float rule (the stored data sets depend on it bit for bit): every lifting expression is
// evaluated in double precision, in the order of the formulas, and the result is stored as a
// 32-bit float (round to nearest); each stored float is an input of the following steps. This is
// compiled with -ffp-contract=off so that no multiply-add is ever fused.
//
// All variants are thread-safe (scratch on the stack) and give bit-identical planes; the plain
// reference is kept as the definition, the others are tested against it.

// The viewer's transform: the kernel table's variant (decoder/kernels.h).
void inverse_wavelet(float* plane);

// Plain C++ reference, step by step (columns then rows, n = 2 .. 64).
void inverse_wavelet_reference(float* plane);
// SSE2 and AVX2 (packed doubles), bit-identical to the reference. Only on x86-64; the AVX2 one
// only on CPUs that have AVX2 (detect_cpu_features(), decoder/kernels.h).
void inverse_wavelet_sse2(float* plane);
void inverse_wavelet_avx2(float* plane);

// The all-zero plane's transform (the offsets make it nonzero: -4.5 .. -7.5 by column), computed
// once with the reference. decode_tile copies it instead of transforming an all-zero plane.
const float* inverse_wavelet_of_zero();

// One line's inverse lifting (update, predict on s[0..h) and d[0..h) in place;
// interleaving is the caller's job). h >= 1. Exposed for tests.
void inverse_lift_line(float* s, float* d, int h);
