#pragma once
// EZW channel coding for the builder's throughput. The library's encoder rescans all 4096
// coefficients and recomputes the tree maxima in every pass; here each coefficient's pass of
// significance is known up front, so a subtree's fate in a pass is one bit test, and each pass
// walks only the coefficients the decoder will actually visit. The records are byte-for-byte
// those of encode_channel (tested), as long as the dominant stream fits the decoder's limit.
#include "encoder/encoder.h"

namespace builder {

// Codes `coeffs` (pyramid layout) with start threshold `threshold` (0..255) and `max_passes`.
// Returns false, leaving `out` unspecified, when the dominant stream would exceed 16384 symbols;
// the caller then drops detail or falls back to encode_channel's budgeted passes.
bool fast_encode_channel(const float* coeffs, int threshold, int max_passes, EncodedChannel& out);

}  // namespace builder
