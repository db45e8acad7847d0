#pragma once

// Single-frequency sums over a Blackman-Harris-windowed stretch of samples,
// for measuring a sinusoid at a frequency that is not a bin of any FFT:
// its amplitude, and how far its true frequency lies from the one asked
// for. The 4-term Blackman-Harris window's sidelobes lie 92 dB down, so a
// loud neighbour a few main-lobe widths away adds nothing measurable; its
// main lobe is 8 bins wide (4 either side), and flat enough near its top
// that a frequency a tenth of a bin off loses only about 0.03 dB.

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

namespace toneprint {

// The 4-term Blackman-Harris window at u in [0, 1] (0 at both ends, 1 in
// the middle).
double blackman_harris(double u);

// A stretch of samples times the window, with the sums that normalise what
// is measured over it.
class WindowedSignal {
 public:
  // Windows `samples`: sample n of N times blackman_harris((n + 0.5) / N).
  explicit WindowedSignal(std::span<const double> samples);
  WindowedSignal() = default;

  void assign(std::span<const double> samples);

  std::size_t size() const { return windowed_.size(); }
  // The samples times the window.
  const std::vector<double>& windowed() const { return windowed_; }

  // Σ w(n) x(n) e^(-i 2π ν n) and Σ w(n) x(n) (n - centre) e^(-i 2π ν n),
  // ν in cycles per sample.
  struct Sums {
    std::complex<double> plain;
    std::complex<double> timed;
  };
  Sums sums(double nu) const;

  // A sinusoid of peak A at ν reads A from its sums at ν.
  double amplitude(const Sums& at) const;

  // The first-order estimate of (true frequency - ν), in cycles per sample,
  // of the sinusoid that dominates the sums at ν; 0 when they are 0. Exact
  // to first order within the main lobe; iterate for more.
  double offset(const Sums& at) const;

 private:
  std::vector<double> windowed_;
  std::vector<double> timed_;  // windowed_[n] × (n - centre)
  double weight_ = 0.0;        // Σ w(n)
  double centre_ = 0.0;        // (N - 1) / 2
  double spread_ = 0.0;        // Σ w(n) (n - centre)² / Σ w(n)
};

}  // namespace toneprint
