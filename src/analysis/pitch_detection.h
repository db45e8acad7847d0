#pragma once

// Finds the fundamental frequency of a block of samples taken from a tone.
//
// Two frames of fft_size samples are taken, the second fft_hop samples after
// the first. The fundamental's bin comes from the first frame's magnitude
// spectrum (the peak-spacing vote of find_fundamental); the frequency is then
// refined far below the bin spacing from the advance of that bin's phase
// between the two frames. The refinement reaches sample_rate / (2 fft_hop)
// either side of the bin's centre: a tone farther from the chosen bin is
// aliased into that range.

#include <cstdint>
#include <span>
#include <vector>

#include "analysis/harmonic_measurement.h"
#include "dsp/fft_plan.h"

namespace toneprint {

enum class PitchStatus : std::uint32_t {
  Found = 0,          // frequency holds the fundamental
  TooFewSamples = 1,  // fewer than fft_size + fft_hop samples; nothing computed
  NoPeaks = 2,        // no spectral peak reached the threshold
};

struct PitchEstimate {
  double frequency = 0.0;  // Hz; 0.0 unless status is Found
  PitchStatus status = PitchStatus::Found;
};

// samples: the block, in raw 16-bit units; fft_size must be a power of two
// (2048 to 16384 from the settings); peak_threshold and peak_count are
// handed to the fundamental search.
PitchEstimate detect_pitch(std::span<const double> samples, std::uint32_t fft_size,
                           std::uint32_t fft_hop, std::uint32_t sample_rate,
                           std::uint32_t peak_threshold, std::uint32_t peak_count);

// detect_pitch for a caller that detects many blocks: the work arrays and
// the window's factors are kept from one call to the next (for the last FFT
// size used), with the same results to the last bit. The fast evaluation
// windows each frame straight into a planned FFT (see fft_plan.h), which
// gives fft_double's values.
class PitchDetector {
 public:
  explicit PitchDetector(Evaluation evaluation = Evaluation::reference)
      : evaluation_(evaluation) {}

  PitchEstimate detect(std::span<const double> samples, std::uint32_t fft_size,
                       std::uint32_t fft_hop, std::uint32_t sample_rate,
                       std::uint32_t peak_threshold, std::uint32_t peak_count);

  // The magnitude spectrum of the last detection's first frame (fft_size / 2
  // bins), the one the vote was taken on.
  std::span<const double> magnitudes() const { return magnitudes_; }

 private:
  void prepare(std::uint32_t fft_size);
  // The frame: the window's factors times half of each sample.
  void window(const double* source);
  Evaluation evaluation_;
  std::vector<double> window_;  // 1 - cos(i 2pi / N)
  std::vector<double> frame_;
  std::vector<double> real_;
  std::vector<double> imaginary_;
  std::vector<double> magnitudes_;
  FftPlan plan_{0};  // the fast way's, for the FFT size of the last detection
};

// Periodic Hann window over n values (denominator n, not n - 1):
// destination[i] = (1 - cos(i * 2pi / n)) * (source[i] * 0.5).
void apply_hann_window(const double* source, double* destination, std::uint32_t n);

// magnitudes[i] = sqrt(real[i]^2 + imaginary[i]^2) for i < count.
void magnitude_spectrum(const double* real, const double* imaginary, double* magnitudes,
                        std::uint32_t count);

// atan2(y, x) in [-pi, pi], and 0.0 when both are exactly zero.
double phase_angle(double y, double x);

// x reduced to [-pi, pi] by whole multiples of 2 pi. Not-a-number for a
// value that is not finite.
double principal_angle(double x);

// The frequency in Hz of a component found in `bin` of an n-point transform
// whose phase went from first_phase to second_phase over `hop` samples.
double phase_difference_frequency(std::uint32_t bin, double first_phase, double second_phase,
                                  std::uint32_t hop, std::uint32_t n, std::uint32_t sample_rate);

}  // namespace toneprint
