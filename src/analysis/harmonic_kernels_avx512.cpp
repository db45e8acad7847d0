// The harmonic kernel eight samples at a time; built with AVX-512F enabled,
// and only called where the processor has it.

#include <immintrin.h>
#include <sleef.h>

#include <cmath>

#include "analysis/harmonic_kernels.h"

namespace toneprint::detail {

void add_harmonic_terms_avx512(const double* x, std::int64_t first, std::int64_t count,
                               double omega, double delta, double* sine_lanes,
                               double* cosine_lanes) {
  constexpr int width = 8;
  const __m512d omegas = _mm512_set1_pd(omega);
  const __m512d deltas = _mm512_set1_pd(delta);
  const __m512d ones = _mm512_set1_pd(1.0);
  const __m512d halves = _mm512_set1_pd(0.5);
  const __m512d steps = _mm512_set_pd(7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0);
  __m512d sines = _mm512_loadu_pd(sine_lanes);
  __m512d cosines = _mm512_loadu_pd(cosine_lanes);
  std::int64_t i = 0;
  for (; i + width <= count; i += width) {
    const __m512d n = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(first + i)), steps);
    const __m512d h =
        _mm512_mul_pd(_mm512_sub_pd(ones, Sleef_cosd8_u10(_mm512_mul_pd(n, deltas))), halves);
    const Sleef___m512d_2 sc = Sleef_sincosd8_u10(_mm512_mul_pd(n, omegas));
    const __m512d samples = _mm512_loadu_pd(x + i);
    sines = _mm512_add_pd(sines, _mm512_mul_pd(_mm512_mul_pd(sc.x, samples), h));
    cosines = _mm512_add_pd(cosines, _mm512_mul_pd(_mm512_mul_pd(sc.y, samples), h));
  }
  _mm512_storeu_pd(sine_lanes, sines);
  _mm512_storeu_pd(cosine_lanes, cosines);
  add_harmonic_terms_plain(x + i, first + i, count - i, omega, delta, sine_lanes, cosine_lanes);
}

}  // namespace toneprint::detail
