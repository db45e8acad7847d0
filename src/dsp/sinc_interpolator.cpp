#include "dsp/sinc_interpolator.h"

#include <algorithm>
#include <cmath>

namespace toneprint {

namespace {

constexpr double pi = 3.141592653589793;

// The kernel's cut-off, as a fraction of the sample rate (the pass band
// ends at 0.45, the stop band starts at 0.55), and the Kaiser window's beta
// for about 75 dB of stop band over 48 taps.
constexpr double cutoff = 0.5;
constexpr double kaiser_beta = 7.3;

// The modified Bessel function of the first kind, order 0, by its series.
double bessel_i0(double x) {
  double sum = 1.0, term = 1.0;
  const double quarter = x * x / 4.0;
  for (int k = 1; k < 60 && term > 1e-17 * sum; ++k) {
    term *= quarter / (static_cast<double>(k) * static_cast<double>(k));
    sum += term;
  }
  return sum;
}

double kernel(double offset) {
  constexpr double half = SincInterpolator::half_width;
  if (std::fabs(offset) >= half) return 0.0;
  const double r = offset / half;
  const double window = bessel_i0(kaiser_beta * std::sqrt(1.0 - r * r)) / bessel_i0(kaiser_beta);
  const double x = 2.0 * cutoff * offset;
  const double sinc = x == 0.0 ? 1.0 : std::sin(pi * x) / (pi * x);
  return 2.0 * cutoff * sinc * window;
}

}  // namespace

SincInterpolator::SincInterpolator() {
  for (int p = 0; p <= phases; ++p) {
    const double fraction = static_cast<double>(p) / phases;
    double sum = 0.0;
    for (int j = 0; j < 2 * half_width; ++j) {
      table_[static_cast<std::size_t>(p)][static_cast<std::size_t>(j)] =
          kernel(static_cast<double>(j - half_width + 1) - fraction);
      sum += table_[static_cast<std::size_t>(p)][static_cast<std::size_t>(j)];
    }
    // Unit gain at 0 Hz for every fraction: a constant stays constant.
    auto& row = table_[static_cast<std::size_t>(p)];
    std::transform(row.begin(), row.end(), row.begin(), [sum](double value) { return value / sum; });
  }
}

double SincInterpolator::at(std::span<const double> samples, double t) const {
  const double floor_t = std::floor(t);
  const double position = (t - floor_t) * phases;
  const auto p = static_cast<std::size_t>(position);
  const double blend = position - static_cast<double>(p);
  const auto& lower = table_[p];
  const auto& upper = table_[p + 1 <= phases ? p + 1 : p];
  const long base = static_cast<long>(floor_t) - half_width + 1;
  const long size = static_cast<long>(samples.size());
  double sum = 0.0;
  for (int j = 0; j < 2 * half_width; ++j) {
    const long i = base + j;
    if (i < 0 || i >= size) continue;
    const auto k = static_cast<std::size_t>(j);
    sum += samples[static_cast<std::size_t>(i)] * (lower[k] + blend * (upper[k] - lower[k]));
  }
  return sum;
}

}  // namespace toneprint
