#pragma once

// Band-limited interpolation: a signal's value between its samples, from
// the 48 samples around the point, weighted by a Kaiser-windowed sinc. The
// kernel passes everything below 0.45 of the sample rate within about
// 0.002 dB, so a sinusoid of up to 0.45 of the sample rate keeps its
// amplitude and phase when the signal is read at other times (for instance
// along a varying pitch's phase); its images lie above 0.5 of the rate.

#include <array>
#include <cstddef>
#include <span>

namespace toneprint {

class SincInterpolator {
 public:
  static constexpr int half_width = 24;  // samples on either side of the point
  static constexpr int phases = 512;     // kernel tabulated per 1/phases of a sample

  SincInterpolator();

  // The signal at time t (in samples, 0 is samples[0]); samples beyond
  // either end count as 0.
  double at(std::span<const double> samples, double t) const;

 private:
  // table_[p][j]: the kernel at offset (j - half_width + 1) - p / phases,
  // for p in 0..phases (the last row closes the interval).
  std::array<std::array<double, std::size_t{2} * half_width>, std::size_t{phases} + 1> table_;
};

}  // namespace toneprint
