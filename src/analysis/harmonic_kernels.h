#pragma once

// The inner loop of the harmonic measurement over a run of samples, in the
// widest form the processor offers.
//
// Each kernel adds, for n = first .. first + count - 1,
//   sin(n omega) × x[n - first] × h(n)   to the sine sums and
//   cos(n omega) × x[n - first] × h(n)   to the cosine sums,
// with h(n) = (1 - cos(n delta)) × 0.5, every angle formed directly from n.
// The sums are kept in harmonic_lanes partial sums (lane i takes the terms
// whose n - first is i modulo the kernel's width); adding the lanes in order
// gives the sums. The vector kernels use SLEEF's sine and cosine, accurate
// to 1 ulp; the plain kernel uses the C library's, one term at a time in
// lane 0, exactly as the straightforward evaluation does.

#include <cstdint>
#include <vector>

namespace toneprint::detail {

inline constexpr int harmonic_lanes = 8;

using HarmonicKernel = void (*)(const double* x, std::int64_t first, std::int64_t count,
                                double omega, double delta, double* sine_lanes,
                                double* cosine_lanes);

void add_harmonic_terms_plain(const double* x, std::int64_t first, std::int64_t count, double omega,
                              double delta, double* sine_lanes, double* cosine_lanes);

#if defined(TONEPRINT_HAVE_SLEEF)
void add_harmonic_terms_avx2(const double* x, std::int64_t first, std::int64_t count, double omega,
                             double delta, double* sine_lanes, double* cosine_lanes);
void add_harmonic_terms_avx512(const double* x, std::int64_t first, std::int64_t count,
                               double omega, double delta, double* sine_lanes,
                               double* cosine_lanes);
#endif

// The fastest kernel this processor runs.
HarmonicKernel fastest_harmonic_kernel();

// Every kernel this processor runs, the plain one first.
std::vector<HarmonicKernel> available_harmonic_kernels();

}  // namespace toneprint::detail
