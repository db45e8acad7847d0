#pragma once

// The inner loop of the harmonic measurement over a run of samples, in the
// widest form the processor offers.
//
// Each kernel adds, for n = first .. first + count - 1,
//   sin(n omega) × x[n - first] × h(n)   to the sine sums and
//   cos(n omega) × x[n - first] × h(n)   to the cosine sums,
// with the window h(n) = (1 - cos(n delta)) × 0.5.
//
// No sine is taken per term. The phasor e^(i n omega) is the product of an
// anchor, e^(i n0 omega) at the multiple n0 of phasor_block at or below n,
// and a step, e^(i (n - n0) omega) from a table: a block's terms are summed
// against the steps, and the anchor turns the block's sums. The window's
// cosine comes from e^(i n delta) as the product of its anchor and step. Anchors and steps are formed directly
// from their angles, so a term's error is that of a few roundings and does
// not grow along the frame.
//
// The sums are kept in harmonic_lanes partial sums (lane i takes the terms
// whose n is i modulo harmonic_lanes); adding the lanes in order gives the
// sums. The kernels differ only in how many anchors they form at once (the
// vector ones with SLEEF's sine and cosine, accurate to 1 ulp) and in the
// vector width the compiler gives the loop.

#include <cstdint>
#include <vector>

namespace toneprint::detail {

inline constexpr int harmonic_lanes = 8;
// Samples from one anchor to the next: the square of phasor_step_width, a
// multiple of harmonic_lanes.
inline constexpr int phasor_step_width = 16;
inline constexpr int phasor_block = phasor_step_width * phasor_step_width;

// The steps of one frequency: cos and sin of j × angle for j = 0 ..
// phasor_block - 1.
struct PhasorSteps {
  alignas(64) double cosine[phasor_block];
  alignas(64) double sine[phasor_block];
};

// What a kernel needs of one harmonic: its angles per sample and their
// steps.
struct HarmonicPhasors {
  double omega = 0.0;  // the harmonic's radians per sample
  double delta = 0.0;  // the window's: 2 pi / its length
  PhasorSteps tone;    // of omega
  PhasorSteps window;  // of delta
};

// The steps of omega and delta, their angles' sines and cosines from the C
// library; the vector kernels' files form them with SLEEF, several at once,
// as prepare_phasors_avx2 and prepare_phasors_avx512.
void prepare_phasors(double omega, double delta, HarmonicPhasors& phasors);
using PhasorPreparer = void (*)(double omega, double delta, HarmonicPhasors& phasors);

using HarmonicKernel = void (*)(const double* x, std::int64_t first, std::int64_t count,
                                const HarmonicPhasors& phasors, double* sine_lanes,
                                double* cosine_lanes);

// Anchors from the C library's sine and cosine, one at a time.
void add_harmonic_terms_plain(const double* x, std::int64_t first, std::int64_t count,
                              const HarmonicPhasors& phasors, double* sine_lanes,
                              double* cosine_lanes);

#if defined(TONEPRINT_HAVE_SLEEF)
void prepare_phasors_avx2(double omega, double delta, HarmonicPhasors& phasors);
void prepare_phasors_avx512(double omega, double delta, HarmonicPhasors& phasors);
void add_harmonic_terms_avx2(const double* x, std::int64_t first, std::int64_t count,
                             const HarmonicPhasors& phasors, double* sine_lanes,
                             double* cosine_lanes);
void add_harmonic_terms_avx512(const double* x, std::int64_t first, std::int64_t count,
                               const HarmonicPhasors& phasors, double* sine_lanes,
                               double* cosine_lanes);
#endif

// The fastest kernel this processor runs, and the preparer of its file.
HarmonicKernel fastest_harmonic_kernel();
PhasorPreparer fastest_phasor_preparer();

// Every kernel this processor runs, the plain one first.
std::vector<HarmonicKernel> available_harmonic_kernels();

}  // namespace toneprint::detail
