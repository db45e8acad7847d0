#include "analysis/harmonic_kernels.h"

#include <cmath>

namespace toneprint::detail {

void add_harmonic_terms_plain(const double* x, std::int64_t first, std::int64_t count, double omega,
                              double delta, double* sine_lanes, double* cosine_lanes) {
  for (std::int64_t i = 0; i < count; ++i) {
    const double n = static_cast<double>(first + i);
    const double h = (1.0 - std::cos(n * delta)) * 0.5;
    sine_lanes[0] += std::sin(n * omega) * x[i] * h;
    cosine_lanes[0] += std::cos(n * omega) * x[i] * h;
  }
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

}  // namespace toneprint::detail
