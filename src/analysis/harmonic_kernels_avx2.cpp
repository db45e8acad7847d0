// The harmonic kernel four samples at a time; built with AVX2 and FMA
// enabled, and only called where the processor has them.

#include <immintrin.h>
#include <sleef.h>

#include <cmath>

#include "analysis/harmonic_kernels.h"

namespace toneprint::detail {

void add_harmonic_terms_avx2(const double* x, std::int64_t first, std::int64_t count, double omega,
                             double delta, double* sine_lanes, double* cosine_lanes) {
  constexpr int width = 4;
  const __m256d omegas = _mm256_set1_pd(omega);
  const __m256d deltas = _mm256_set1_pd(delta);
  const __m256d ones = _mm256_set1_pd(1.0);
  const __m256d halves = _mm256_set1_pd(0.5);
  const __m256d steps = _mm256_set_pd(3.0, 2.0, 1.0, 0.0);
  __m256d sines = _mm256_loadu_pd(sine_lanes);
  __m256d cosines = _mm256_loadu_pd(cosine_lanes);
  std::int64_t i = 0;
  for (; i + width <= count; i += width) {
    const __m256d n = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(first + i)), steps);
    const __m256d h =
        _mm256_mul_pd(_mm256_sub_pd(ones, Sleef_cosd4_u10(_mm256_mul_pd(n, deltas))), halves);
    const Sleef___m256d_2 sc = Sleef_sincosd4_u10(_mm256_mul_pd(n, omegas));
    const __m256d samples = _mm256_loadu_pd(x + i);
    sines = _mm256_add_pd(sines, _mm256_mul_pd(_mm256_mul_pd(sc.x, samples), h));
    cosines = _mm256_add_pd(cosines, _mm256_mul_pd(_mm256_mul_pd(sc.y, samples), h));
  }
  _mm256_storeu_pd(sine_lanes, sines);
  _mm256_storeu_pd(cosine_lanes, cosines);
  add_harmonic_terms_plain(x + i, first + i, count - i, omega, delta, sine_lanes, cosine_lanes);
}

}  // namespace toneprint::detail
