#pragma once

// The butterfly stages of FftPlan, for each instruction set's file to
// compile with its own flags. The stages go two at a time (a block of 2q
// points, then of 4q) and a last one alone when their number is odd. Each
// twiddle comes from the table of its stage, and each pair of stages does
// the same operations on the same values as the two stages one after the
// other, so the results are fft_double's whatever the pairing.
//
// `InstructionSet` is a tag of the file that compiles it, so that each
// file's build stays its own. The runs a loop works on never overlap, as
// their __restrict says, so that the compiler takes several points at once.

#include <cstddef>
#include <cstdint>

namespace toneprint::detail {

// One stage on a block: points t and t + q, t < q, with twiddle t.
template <typename InstructionSet>
void fft_butterflies(std::uint32_t q, const double* __restrict wr, const double* __restrict wi,
                     double* __restrict rj, double* __restrict ij, double* __restrict rk,
                     double* __restrict ik) {
  for (std::uint32_t t = 0; t < q; ++t) {
    const double tr = wr[t] * rk[t] - wi[t] * ik[t];
    const double ti = wr[t] * ik[t] + wi[t] * rk[t];
    rk[t] = rj[t] - tr;
    ik[t] = ij[t] - ti;
    rj[t] = rj[t] + tr;
    ij[t] = ij[t] + ti;
  }
}

// Two stages on a block of 4q: the stage of 2q on the points (t, t + q) and
// (t + 2q, t + 3q) with twiddle w[t] = e^(2 pi i t / 2q), then the stage of
// 4q on (t, t + 2q) with v[t] = e^(2 pi i t / 4q) and on (t + q, t + 3q) with
// v[t + q].
template <typename InstructionSet>
void fft_butterflies_twice(std::uint32_t q, const double* __restrict wr,
                           const double* __restrict wi, const double* __restrict vr,
                           const double* __restrict vi, double* __restrict r0,
                           double* __restrict i0, double* __restrict r1, double* __restrict i1,
                           double* __restrict r2, double* __restrict i2, double* __restrict r3,
                           double* __restrict i3) {
  for (std::uint32_t t = 0; t < q; ++t) {
    const double ar = wr[t] * r1[t] - wi[t] * i1[t];
    const double ai = wr[t] * i1[t] + wi[t] * r1[t];
    const double br = wr[t] * r3[t] - wi[t] * i3[t];
    const double bi = wr[t] * i3[t] + wi[t] * r3[t];
    const double y0r = r0[t] + ar;
    const double y0i = i0[t] + ai;
    const double y1r = r0[t] - ar;
    const double y1i = i0[t] - ai;
    const double y2r = r2[t] + br;
    const double y2i = i2[t] + bi;
    const double y3r = r2[t] - br;
    const double y3i = i2[t] - bi;
    const double cr = vr[t] * y2r - vi[t] * y2i;
    const double ci = vr[t] * y2i + vi[t] * y2r;
    const double dr = vr[t + q] * y3r - vi[t + q] * y3i;
    const double di = vr[t + q] * y3i + vi[t + q] * y3r;
    r0[t] = y0r + cr;
    i0[t] = y0i + ci;
    r2[t] = y0r - cr;
    i2[t] = y0i - ci;
    r1[t] = y1r + dr;
    i1[t] = y1i + di;
    r3[t] = y1r - dr;
    i3[t] = y1i - di;
  }
}

// fft_butterflies_twice for q = 1: the first two stages on one block of
// four points, given as values and written to r[0..3] and m[0..3]. The
// twiddles are the stages' three, as the recurrence gives them: [0] of the
// stage of 2, then [1] and [2] of the stage of 4.
template <typename InstructionSet>
void fft_first_two_stages(const double* twiddle_real, const double* twiddle_imag, double x0r,
                          double x0i, double x1r, double x1i, double x2r, double x2i, double x3r,
                          double x3i, double* r, double* m) {
  const double wr = twiddle_real[0];
  const double wi = twiddle_imag[0];
  const double ar = wr * x1r - wi * x1i;
  const double ai = wr * x1i + wi * x1r;
  const double br = wr * x3r - wi * x3i;
  const double bi = wr * x3i + wi * x3r;
  const double y0r = x0r + ar;
  const double y0i = x0i + ai;
  const double y1r = x0r - ar;
  const double y1i = x0i - ai;
  const double y2r = x2r + br;
  const double y2i = x2i + bi;
  const double y3r = x2r - br;
  const double y3i = x2i - bi;
  const double cr = twiddle_real[1] * y2r - twiddle_imag[1] * y2i;
  const double ci = twiddle_real[1] * y2i + twiddle_imag[1] * y2r;
  const double dr = twiddle_real[2] * y3r - twiddle_imag[2] * y3i;
  const double di = twiddle_real[2] * y3i + twiddle_imag[2] * y3r;
  r[0] = y0r + cr;
  m[0] = y0i + ci;
  r[2] = y0r - cr;
  m[2] = y0i - ci;
  r[1] = y1r + dr;
  m[1] = y1i + di;
  r[3] = y1r - dr;
  m[3] = y1i - di;
}

// The first two stages on every block of four of n points, in place.
template <typename InstructionSet>
void fft_first_stages(std::uint32_t n, const double* twiddle_real, const double* twiddle_imag,
                      double* __restrict re, double* __restrict im) {
  for (std::uint32_t i = 0; i < n; i += 4) {
    fft_first_two_stages<InstructionSet>(twiddle_real, twiddle_imag, re[i], im[i], re[i + 1],
                                         im[i + 1], re[i + 2], im[i + 2], re[i + 3], im[i + 3],
                                         re + i, im + i);
  }
}

// twiddle_real/imag: for each block size first_block, 2 first_block, ... n
// in turn, its block / 2 twiddles.
// The stages from that of blocks of `first_block` points (2, or 8 after the
// first two), with the twiddles of that stage and those after it.
template <typename InstructionSet>
void fft_stages(std::uint32_t n, std::uint32_t first_block, const double* twiddle_real,
                const double* twiddle_imag, double* re, double* im) {
  std::uint32_t block = first_block;  // the next stage's block size
  while (block <= n) {
    const std::uint32_t q = block / 2;  // the first stage's half block
    if (block * 2 <= n && q == 1) {
      // The first two stages: four points a block, the twiddles the same
      // in every block, and the blocks taken several at once.
      fft_first_stages<InstructionSet>(n, twiddle_real, twiddle_imag, re, im);
      twiddle_real += 3;
      twiddle_imag += 3;
      block *= 4;
    } else if (block * 2 <= n) {
      const std::size_t quarter = q;
      for (std::size_t i = 0; i < n; i += 4 * quarter) {
        fft_butterflies_twice<InstructionSet>(
            q, twiddle_real, twiddle_imag, twiddle_real + quarter, twiddle_imag + quarter, re + i,
            im + i, re + i + quarter, im + i + quarter, re + i + 2 * quarter, im + i + 2 * quarter,
            re + i + 3 * quarter, im + i + 3 * quarter);
      }
      twiddle_real += 3 * quarter;
      twiddle_imag += 3 * quarter;
      block *= 4;
    } else {
      for (std::uint32_t i = 0; i < n; i += block) {
        fft_butterflies<InstructionSet>(q, twiddle_real, twiddle_imag, re + i, im + i, re + i + q,
                                        im + i + q);
      }
      twiddle_real += q;
      twiddle_imag += q;
      block *= 2;
    }
  }
}

#if defined(TONEPRINT_FFT_AVX2)
// The stages built with AVX2, for processors that have it.
void fft_stages_avx2(std::uint32_t n, std::uint32_t first_block, const double* twiddle_real,
                     const double* twiddle_imag, double* re, double* im);
#endif

}  // namespace toneprint::detail
