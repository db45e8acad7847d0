// The harmonic kernel with AVX2: tables and anchors four at a time through
// SLEEF, the loop as wide as the compiler makes it. Only called where the
// processor has AVX2 and FMA.

#include <immintrin.h>
#include <sleef.h>

#include "analysis/harmonic_phasor_loop.h"

namespace toneprint::detail {

namespace {

constexpr int width = 4;

const auto sincos = [](const double* angles, double* sines, double* cosines) {
  const Sleef___m256d_2 both = Sleef_sincosd4_u10(_mm256_loadu_pd(angles));
  _mm256_storeu_pd(sines, both.x);
  _mm256_storeu_pd(cosines, both.y);
};

}  // namespace

void prepare_phasors_avx2(double omega, double delta, HarmonicPhasors& phasors) {
  prepare_phasors_with<width>(omega, delta, phasors, sincos);
}

void add_harmonic_terms_avx2(const double* x, std::int64_t first, std::int64_t count,
                             const HarmonicPhasors& phasors, double* sine_lanes,
                             double* cosine_lanes) {
  add_terms_by_phasors(x, first, count, phasors, sine_lanes, cosine_lanes,
                       anchors_through<width>(sincos));
}

}  // namespace toneprint::detail
