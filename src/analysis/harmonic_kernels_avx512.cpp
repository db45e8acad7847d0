// The harmonic kernel with AVX-512: tables and anchors eight at a time
// through SLEEF, the loop as wide as the compiler makes it. Only called
// where the processor has AVX-512F.

#include <immintrin.h>
#include <sleef.h>

#include "analysis/harmonic_phasor_loop.h"

namespace toneprint::detail {

namespace {

constexpr int width = 8;

const auto sincos = [](const double* angles, double* sines, double* cosines) {
  const Sleef___m512d_2 both = Sleef_sincosd8_u10(_mm512_loadu_pd(angles));
  _mm512_storeu_pd(sines, both.x);
  _mm512_storeu_pd(cosines, both.y);
};

}  // namespace

void prepare_phasors_avx512(double omega, double delta, HarmonicPhasors& phasors) {
  prepare_phasors_with<width>(omega, delta, phasors, sincos);
}

void add_harmonic_terms_avx512(const double* x, std::int64_t first, std::int64_t count,
                               const HarmonicPhasors& phasors, double* sine_lanes,
                               double* cosine_lanes) {
  add_terms_by_phasors(x, first, count, phasors, sine_lanes, cosine_lanes,
                       anchors_through<width>(sincos));
}

}  // namespace toneprint::detail
