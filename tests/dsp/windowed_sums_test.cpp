#include "dsp/windowed_sums.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/sinc_interpolator.h"

using namespace toneprint;

namespace {
constexpr double two_pi = 6.283185307179586;

std::vector<double> sinusoid(std::size_t count, double nu, double amplitude, double phase) {
  std::vector<double> x(count);
  for (std::size_t i = 0; i < count; ++i) {
    x[i] = amplitude * std::cos(two_pi * nu * static_cast<double>(i) + phase);
  }
  return x;
}
}  // namespace

// The window's published shape: 6e-5 at the ends, 1 in the middle, even.
TEST(WindowedSums, TheWindowIsTheFourTermBlackmanHarris) {
  EXPECT_NEAR(blackman_harris(0.0), 0.00006, 1e-12);
  EXPECT_NEAR(blackman_harris(0.5), 1.0, 1e-12);
  EXPECT_NEAR(blackman_harris(0.2), blackman_harris(0.8), 1e-12);
  EXPECT_NEAR(blackman_harris(0.25), 0.35875 - 0.14128, 1e-12);
}

// A sinusoid between bins reads its amplitude from sums at its frequency,
// and the offset from a frequency near it; a loud neighbour a few main
// lobes away adds nothing measurable; a quiet one is read 80 dB down.
TEST(WindowedSums, ReadAmplitudeAndFrequencyOffsetOfASinusoid) {
  const std::size_t n = 10001;  // odd, and not a power of two
  const struct {
    double nu, amplitude, asked;
  } cases[] = {
      {0.0123456, 1000.0, 0.0123456},
      {0.0123456, 1000.0, 0.0123456 + 0.3 / n},
      {0.0123456, 1000.0, 0.0123456 - 0.8 / n},
      {0.4, 2.5, 0.4 + 0.5 / n},
  };
  for (const auto& c : cases) {
    std::vector<double> x = sinusoid(n, c.nu, c.amplitude, 0.3);
    // The neighbour: 12 bins up, 60 dB louder than the quiet case.
    const std::vector<double> neighbour = sinusoid(n, c.nu + 12.0 / n, 2500.0, 1.1);
    for (std::size_t i = 0; i < n; ++i) x[i] += neighbour[i];
    const WindowedSignal signal(x);
    const WindowedSignal::Sums at = signal.sums(c.asked);
    const double off = (c.asked - c.nu) * n;  // bins
    // The main lobe's top falls as about 0.35 off² (off in bins) near its peak.
    EXPECT_NEAR(signal.amplitude(at), c.amplitude, c.amplitude * (0.002 + 0.4 * off * off))
        << c.asked;
    const double refined = c.asked + signal.offset(at);
    EXPECT_NEAR((refined - c.nu) * n, 0.0, 0.01 + 0.05 * std::fabs(off)) << c.asked;
    EXPECT_NEAR(signal.amplitude(signal.sums(refined)), c.amplitude, c.amplitude * 2e-4) << c.asked;
  }
  EXPECT_EQ(WindowedSignal().amplitude(WindowedSignal().sums(0.1)), 0.0);
}

// Reading a band-limited signal between its samples: sinusoids up to 0.45
// of the rate keep amplitude and phase; a constant stays constant.
TEST(SincInterpolator, ReadsASignalBetweenItsSamples) {
  const SincInterpolator interpolator;
  const std::size_t n = 400;
  for (const double nu : {0.0, 0.01, 0.2, 0.37, 0.45}) {
    const std::vector<double> x = sinusoid(n, nu, 1.0, 0.5);
    double worst = 0.0;
    for (double t = 100.0; t < 300.0; t += 0.137) {
      const double truth = std::cos(two_pi * nu * t + 0.5);
      worst = std::max(worst, std::fabs(interpolator.at(x, t) - truth));
    }
    EXPECT_LT(worst, nu < 0.4 ? 2e-4 : 5e-4) << nu;
  }
  // Past the ends the samples count as zeros: far out, nothing.
  const std::vector<double> ones(64, 1.0);
  EXPECT_EQ(interpolator.at(ones, -100.0), 0.0);
  EXPECT_EQ(interpolator.at(ones, 300.0), 0.0);
  EXPECT_NEAR(interpolator.at(ones, 32.5), 1.0, 1e-9);
}
