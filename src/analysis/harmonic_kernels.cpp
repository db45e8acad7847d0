#include "analysis/harmonic_kernels.h"

#include <cmath>

#include "analysis/harmonic_phasor_loop.h"

namespace toneprint::detail {

namespace {

// The C library's sine and cosine, one angle at a time.
const auto sincos = [](const double* angle, double* sine, double* cosine) {
  *sine = std::sin(*angle);
  *cosine = std::cos(*angle);
};

}  // namespace

void prepare_phasors(double omega, double delta, HarmonicPhasors& phasors) {
  prepare_phasors_with<1>(omega, delta, phasors, sincos);
}

void add_harmonic_terms_plain(const double* x, std::int64_t first, std::int64_t count,
                              const HarmonicPhasors& phasors, double* sine_lanes,
                              double* cosine_lanes) {
  add_terms_by_phasors(x, first, count, phasors, sine_lanes, cosine_lanes,
                       anchors_through<1>(sincos));
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
