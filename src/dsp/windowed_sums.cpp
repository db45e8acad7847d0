#include "dsp/windowed_sums.h"

#include <cmath>
#include <cstring>

namespace toneprint {

namespace {

constexpr double two_pi = 6.283185307179586;

// Samples between two phasors formed afresh rather than by the recurrence,
// which keeps its rounding error near 1e-13.
constexpr std::size_t fresh_every = 1024;

// Adds the samples from `from` on to the sums, each phasor formed from its
// own angle: the few samples that the lanes leave, or all of them where
// there are no lanes.
void add_directly(const std::vector<double>& windowed, const std::vector<double>& timed, double nu,
                  std::size_t from, WindowedSignal::Sums& sums) {
  for (std::size_t i = from; i < windowed.size(); ++i) {
    const double cycles = nu * static_cast<double>(i);
    const std::complex<double> phasor = std::polar(1.0, -two_pi * (cycles - std::floor(cycles)));
    sums.plain += windowed[i] * phasor;
    sums.timed += timed[i] * phasor;
  }
}

}  // namespace

double blackman_harris(double u) {
  // cos 2x = 2c² - 1 and cos 3x = 4c³ - 3c, from c = cos x alone.
  const double c = std::cos(two_pi * u);
  return 0.35875 - 0.48829 * c + 0.14128 * (2.0 * c * c - 1.0) - 0.01168 * (4.0 * c * c - 3.0) * c;
}

WindowedSignal::WindowedSignal(std::span<const double> samples) { assign(samples); }

void WindowedSignal::assign(std::span<const double> samples) {
  const std::size_t n = samples.size();
  windowed_.resize(n);
  timed_.resize(n);
  weight_ = 0.0;
  centre_ = n == 0 ? 0.0 : 0.5 * static_cast<double>(n - 1);
  double moment = 0.0;
  // cos(2π (i + 0.5) / n) by rotation, formed afresh every fresh_every
  // samples; the window from it as blackman_harris forms it.
  const double turn = two_pi / static_cast<double>(n);
  const double turn_cos = std::cos(turn), turn_sin = std::sin(turn);
  double c = 0.0, s = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i % fresh_every == 0) {
      c = std::cos(turn * (static_cast<double>(i) + 0.5));
      s = std::sin(turn * (static_cast<double>(i) + 0.5));
    }
    const double w =
        0.35875 - 0.48829 * c + 0.14128 * (2.0 * c * c - 1.0) - 0.01168 * (4.0 * c * c - 3.0) * c;
    const double next_c = c * turn_cos - s * turn_sin;
    s = s * turn_cos + c * turn_sin;
    c = next_c;
    windowed_[i] = w * samples[i];
    weight_ += w;
    const double from_centre = static_cast<double>(i) - centre_;
    timed_[i] = windowed_[i] * from_centre;
    moment += w * from_centre * from_centre;
  }
  spread_ = weight_ > 0.0 ? moment / weight_ : 0.0;
}

#if defined(__GNUC__)
// Built for AVX2 too where the platform can choose at run time: four lanes
// in one register rather than two (GCC: Clang cannot link the clones in
// every build). The same operations, so the same results.
#if defined(__x86_64__) && defined(__linux__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
WindowedSignal::Sums
WindowedSignal::sums(double nu) const {
  // The phasor e^(-i 2π ν n) by rotations: four phasors a sample apart,
  // each turned by four samples' angle, so that the four chains of
  // multiplications run side by side. They are formed afresh every
  // fresh_every samples from the angle of n (reduced to whole cycles first,
  // so that the angle stays small and exact).
  using Lanes = double __attribute__((vector_size(32)));
  constexpr std::size_t lanes = 4;
  const double step_re = std::cos(two_pi * nu * lanes), step_im = -std::sin(two_pi * nu * lanes);
  Lanes plain_re = {}, plain_im = {}, timed_re = {}, timed_im = {};
  const std::size_t n = windowed_.size();
  const std::size_t whole = n - n % lanes;
  for (std::size_t start = 0; start < whole; start += fresh_every) {
    Lanes re, im;
    for (std::size_t l = 0; l < lanes; ++l) {
      const double cycles = nu * static_cast<double>(start + l);
      const double angle = -two_pi * (cycles - std::floor(cycles));
      re[l] = std::cos(angle);
      im[l] = std::sin(angle);
    }
    const std::size_t end = start + fresh_every < whole ? start + fresh_every : whole;
    for (std::size_t i = start; i < end; i += lanes) {
      Lanes x, xc;
      std::memcpy(&x, windowed_.data() + i, sizeof x);
      std::memcpy(&xc, timed_.data() + i, sizeof xc);
      plain_re += x * re;
      plain_im += x * im;
      timed_re += xc * re;
      timed_im += xc * im;
      const Lanes r = re * step_re - im * step_im;
      im = re * step_im + im * step_re;
      re = r;
    }
  }
  Sums sums;
  for (std::size_t l = 0; l < lanes; ++l) {
    sums.plain += std::complex<double>(plain_re[l], plain_im[l]);
    sums.timed += std::complex<double>(timed_re[l], timed_im[l]);
  }
  add_directly(windowed_, timed_, nu, whole, sums);
  return sums;
}
#else
WindowedSignal::Sums WindowedSignal::sums(double nu) const {
  Sums sums;
  add_directly(windowed_, timed_, nu, 0, sums);
  return sums;
}
#endif

double WindowedSignal::amplitude(const Sums& at) const {
  return weight_ > 0.0 ? 2.0 * std::abs(at.plain) / weight_ : 0.0;
}

double WindowedSignal::offset(const Sums& at) const {
  // Near a sinusoid at ν + Δ, timed / plain ≈ i 2π Δ × spread.
  if (std::abs(at.plain) == 0.0 || spread_ <= 0.0) return 0.0;
  return (at.timed / at.plain).imag() / (two_pi * spread_);
}

}  // namespace toneprint
