#include "analysis/harmonic_kernels.h"

#include <cmath>

#include "analysis/harmonic_phasor_loop.h"

namespace toneprint::detail {

namespace {

struct Plain {};

void prepare_steps(double angle, PhasorSteps& steps) {
  constexpr int width = phasor_step_width;
  double coarse_cosine[width];
  double coarse_sine[width];
  double fine_cosine[width];
  double fine_sine[width];
  for (int i = 0; i < width; ++i) {
    coarse_cosine[i] = std::cos(static_cast<double>(width * i) * angle);
    coarse_sine[i] = std::sin(static_cast<double>(width * i) * angle);
    fine_cosine[i] = std::cos(static_cast<double>(i) * angle);
    fine_sine[i] = std::sin(static_cast<double>(i) * angle);
  }
  combine_steps<Plain>(coarse_cosine, coarse_sine, fine_cosine, fine_sine, steps);
}

}  // namespace

void prepare_phasors(double omega, double delta, HarmonicPhasors& phasors) {
  phasors.omega = omega;
  phasors.delta = delta;
  prepare_steps(omega, phasors.tone);
  prepare_steps(delta, phasors.window);
}

void add_harmonic_terms_plain(const double* x, std::int64_t first, std::int64_t count,
                              const HarmonicPhasors& phasors, double* sine_lanes,
                              double* cosine_lanes) {
  add_terms_by_phasors(x, first, count, phasors, sine_lanes, cosine_lanes,
                       [](std::int64_t block, int batch, const HarmonicPhasors& p, Anchors& a) {
                         for (int b = 0; b < batch; ++b) {
                           const auto n0 = static_cast<double>((block + b) * phasor_block);
                           a.tone_cosine[b] = std::cos(n0 * p.omega);
                           a.tone_sine[b] = std::sin(n0 * p.omega);
                           a.window_cosine[b] = std::cos(n0 * p.delta);
                           a.window_sine[b] = std::sin(n0 * p.delta);
                         }
                       });
}

std::vector<HarmonicKernel> available_harmonic_kernels() {
  std::vector<HarmonicKernel> kernels = {add_harmonic_terms_plain};
#if defined(TONEPRINT_HAVE_SLEEF)
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    kernels.push_back(add_harmonic_terms_avx2);
  }
  if (__builtin_cpu_supports("avx512f")) kernels.push_back(add_harmonic_terms_avx512);
#endif
  return kernels;
}

HarmonicKernel fastest_harmonic_kernel() { return available_harmonic_kernels().back(); }

PhasorPreparer fastest_phasor_preparer() {
#if defined(TONEPRINT_HAVE_SLEEF)
  const HarmonicKernel kernel = fastest_harmonic_kernel();
  if (kernel == add_harmonic_terms_avx512) return prepare_phasors_avx512;
  if (kernel == add_harmonic_terms_avx2) return prepare_phasors_avx2;
#endif
  return prepare_phasors;
}

}  // namespace toneprint::detail
