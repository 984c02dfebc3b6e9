#pragma once
// The encoder's and the data set builder's bulk loops are compiled twice, for the x86-64
// baseline and for AVX2, and the loader picks the AVX2 copy on processors that have it. Both
// copies give the same bytes: only "avx2" is named, never "fma", so no multiply and add can be
// fused, and vector instructions round every float operation exactly as scalar ones do.
// (Sanitizer builds keep one copy: the instrumentation does not mix with the loader's choice, which
// runs before the sanitizer's runtime is set up.)
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define QV_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QV_CLONES
#endif
