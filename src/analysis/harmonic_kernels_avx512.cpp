// The harmonic kernel with AVX-512: anchors eight at a time through SLEEF,
// the loop as wide as the compiler makes it. Only called where the
// processor has AVX-512F.

#include <immintrin.h>
#include <sleef.h>

#include "analysis/harmonic_phasor_loop.h"

namespace toneprint::detail {

namespace {

struct Avx512 {};

// The sines and cosines of factor × i × angle for i < phasor_step_width.
void form_angles(double angle, double factor, double* cosines, double* sines) {
  constexpr int width = 8;
  const __m512d steps = _mm512_set_pd(7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0);
  for (int i = 0; i < phasor_step_width; i += width) {
    const __m512d n = _mm512_mul_pd(_mm512_add_pd(_mm512_set1_pd(static_cast<double>(i)), steps), _mm512_set1_pd(factor));
    const Sleef___m512d_2 both = Sleef_sincosd8_u10(_mm512_mul_pd(n, _mm512_set1_pd(angle)));
    _mm512_storeu_pd(sines + i, both.x);
    _mm512_storeu_pd(cosines + i, both.y);
  }
}

void prepare_steps(double angle, PhasorSteps& steps) {
  double coarse_cosine[phasor_step_width];
  double coarse_sine[phasor_step_width];
  double fine_cosine[phasor_step_width];
  double fine_sine[phasor_step_width];
  form_angles(angle, phasor_step_width, coarse_cosine, coarse_sine);
  form_angles(angle, 1.0, fine_cosine, fine_sine);
  combine_steps<Avx512>(coarse_cosine, coarse_sine, fine_cosine, fine_sine, steps);
}

}  // namespace

void prepare_phasors_avx512(double omega, double delta, HarmonicPhasors& phasors) {
  phasors.omega = omega;
  phasors.delta = delta;
  prepare_steps(omega, phasors.tone);
  prepare_steps(delta, phasors.window);
}

void add_harmonic_terms_avx512(const double* x, std::int64_t first, std::int64_t count,
                               const HarmonicPhasors& phasors, double* sine_lanes,
                               double* cosine_lanes) {
  add_terms_by_phasors(
      x, first, count, phasors, sine_lanes, cosine_lanes,
      [](std::int64_t block, int batch, const HarmonicPhasors& p, Anchors& a) {
        constexpr int width = 8;
        const __m512d steps = _mm512_set_pd(7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0);
        const __m512d omegas = _mm512_set1_pd(p.omega);
        const __m512d deltas = _mm512_set1_pd(p.delta);
        const __m512d block_samples = _mm512_set1_pd(phasor_block);
        // Whole vectors: the entries past `batch` are formed and not used.
        for (int b = 0; b < batch; b += width) {
          const __m512d n0 = _mm512_mul_pd(
              _mm512_add_pd(_mm512_set1_pd(static_cast<double>(block + b)), steps), block_samples);
          const Sleef___m512d_2 tone = Sleef_sincosd8_u10(_mm512_mul_pd(n0, omegas));
          const Sleef___m512d_2 window = Sleef_sincosd8_u10(_mm512_mul_pd(n0, deltas));
          _mm512_store_pd(a.tone_sine + b, tone.x);
          _mm512_store_pd(a.tone_cosine + b, tone.y);
          _mm512_store_pd(a.window_sine + b, window.x);
          _mm512_store_pd(a.window_cosine + b, window.y);
        }
      });
}

}  // namespace toneprint::detail
