#pragma once
// The four inverse lifting expressions as scalar functions: each evaluated in double
// precision, in the order of the formulas, and stored as a 32-bit float (round to nearest). Shared
// by the reference transform (decoder) and the forward transform (encoder). Internal header.
//
// Identities the vector kernels rely on (all exact in double, so bit-identical after rounding):
//   update_first(s, d)    == update(s, d, d)        (symmetric extension d[-1] = d[0])
//   predict_last(d, s)    == predict(d, s, s)       (symmetric extension s[h] = s[h-1])
// because x + x and the products by 0.5 and 0.25 are exact in double for every float x.

inline float lift_update_first(float s, float d) {  // s[0] - (d[0] + 1) * 0.5
    return float(double(s) - (double(d) + 1.0) * 0.5);
}
inline float lift_update(float s, float dl, float d) {  // s[k] - (d[k-1] + d[k] + 2) * 0.25
    return float(double(s) - ((double(dl) + double(d)) + 2.0) * 0.25);
}
inline float lift_predict(float d, float s, float sn) {  // d[k] + (s[k] + s[k+1]) * 0.5
    return float(double(d) + (double(s) + double(sn)) * 0.5);
}
inline float lift_predict_last(float d, float s) {  // d[h-1] + s[h-1]
    return float(double(d) + double(s));
}
