// RGB -> YCbCr, the inverse of the viewer's matrix with its 32-bit float constants.
#include "encoder/clones.h"
#include "encoder/encoder.h"

namespace {

struct Inverse {
    double m[3][3];
    Inverse() {
        // Viewer: (R, G, B) = A (Y, Cb, Cr).
        const double a = double(1.402f), b = double(0.34413f), c = double(0.71414f),
                     e = double(1.772f);
        const double A[3][3] = {{1, 0, a}, {1, -b, -c}, {1, e, 0}};
        const double det = A[0][0] * (A[1][1] * A[2][2] - A[1][2] * A[2][1]) -
                           A[0][1] * (A[1][0] * A[2][2] - A[1][2] * A[2][0]) +
                           A[0][2] * (A[1][0] * A[2][1] - A[1][1] * A[2][0]);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                // Cofactor of A[j][i] over det (adjugate).
                const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
                m[i][j] = (A[r0][c0] * A[r1][c1] - A[r0][c1] * A[r1][c0]) / det;
            }
    }
};

}  // namespace

QV_CLONES void rgb_to_ycbcr(const float* r, const float* g, const float* b, float* y, float* cb,
                            float* cr, int count) {
    static const Inverse inv;
    const auto& m = inv.m;
    auto convert = [&m](double R, double G, double B, float& Y, float& Cb, float& Cr) {
        Y = float(m[0][0] * R + m[0][1] * G + m[0][2] * B);
        Cb = float(m[1][0] * R + m[1][1] * G + m[1][2] * B);
        Cr = float(m[2][0] * R + m[2][1] * G + m[2][2] * B);
    };
    // Blocks of eight: all inputs of a block are read before any output is written, which
    // keeps in-place use right and lets the compiler use vector registers.
    constexpr int kBlock = 8;
    int i0 = 0;
    for (; i0 + kBlock <= count; i0 += kBlock) {
        double R[kBlock], G[kBlock], B[kBlock];
        for (int i = 0; i < kBlock; ++i) R[i] = r[i0 + i], G[i] = g[i0 + i], B[i] = b[i0 + i];
        float Y[kBlock], Cb[kBlock], Cr[kBlock];
        for (int i = 0; i < kBlock; ++i) convert(R[i], G[i], B[i], Y[i], Cb[i], Cr[i]);
        for (int i = 0; i < kBlock; ++i) y[i0 + i] = Y[i], cb[i0 + i] = Cb[i], cr[i0 + i] = Cr[i];
    }
    for (int i = i0; i < count; ++i) {
        float Y, Cb, Cr;
        convert(r[i], g[i], b[i], Y, Cb, Cr);
        y[i] = Y, cb[i] = Cb, cr[i] = Cr;
    }
}
