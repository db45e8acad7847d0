#include "analysis/pitch_detection.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "analysis/fundamental_search.h"
#include "dsp/fftmisc.h"

namespace toneprint {
namespace {

constexpr double two_pi = 6.283185307179586;
constexpr double pi = 3.141592653589793;
constexpr double reciprocal_of_pi = 0.3183098861837907;

}  // namespace

void apply_hann_window(const double* source, double* destination, std::uint32_t n) {
  const double length = static_cast<double>(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const double angle = static_cast<double>(i) * two_pi / length;
    destination[i] = (1.0 - std::cos(angle)) * (source[i] * 0.5);
  }
}

void magnitude_spectrum(const double* real, const double* imaginary, double* magnitudes,
                        std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    magnitudes[i] = std::sqrt(real[i] * real[i] + imaginary[i] * imaginary[i]);
  }
}

double phase_angle(double y, double x) {
  if (y == 0.0 && x == 0.0) return 0.0;
  return std::atan2(y, x);
}

double principal_angle(double x) {
  if (!std::isfinite(x)) return std::numeric_limits<double>::quiet_NaN();
  // The number of half turns, truncated toward zero, made even by moving it
  // away from zero. Held to the 32-bit range so the conversion is defined.
  const double half_turns = std::trunc(x * reciprocal_of_pi);
  if (std::fabs(half_turns) > 2147483646.0) return std::numeric_limits<double>::quiet_NaN();
  std::int32_t q = static_cast<std::int32_t>(half_turns);
  if (q % 2 != 0) q += q >= 0 ? 1 : -1;
  return x - static_cast<double>(q) * pi;
}

double phase_difference_frequency(std::uint32_t bin, double first_phase, double second_phase,
                                  std::uint32_t hop, std::uint32_t n, std::uint32_t sample_rate) {
  const double fs = static_cast<double>(sample_rate);
  const double hop_samples = static_cast<double>(hop);
  const double bin_frequency = index_to_frequency(n, bin) * fs;
  const double measured = principal_angle(second_phase - first_phase);
  // The advance a sinusoid exactly at the bin's centre would make over the
  // hop, brought within half a turn of the measured one.
  double expected = principal_angle(hop_samples * two_pi * bin_frequency / fs);
  while (measured - expected < -pi) expected = expected - two_pi;
  while (measured - expected > pi) expected = expected + two_pi;
  return bin_frequency + (measured - expected) * (fs / (hop_samples * two_pi));
}

PitchEstimate detect_pitch(std::span<const double> samples, std::uint32_t fft_size,
                           std::uint32_t fft_hop, std::uint32_t sample_rate,
                           std::uint32_t peak_threshold, std::uint32_t peak_count) {
  return PitchDetector().detect(samples, fft_size, fft_hop, sample_rate, peak_threshold,
                                peak_count);
}

void PitchDetector::prepare(std::uint32_t fft_size) {
  if (window_.size() == fft_size) return;
  frame_.assign(fft_size, 0.0);
  real_.assign(fft_size, 0.0);
  imaginary_.assign(fft_size, 0.0);
  magnitudes_.assign(fft_size / 2, 0.0);
  if (evaluation_ == Evaluation::fast) plan_ = FftPlan(fft_size);
  // The window's factors as apply_hann_window forms them, so that windowing
  // with the table gives the same values to the last bit.
  window_.resize(fft_size);
  const double length = static_cast<double>(fft_size);
  for (std::uint32_t i = 0; i < fft_size; ++i) {
    window_[i] = 1.0 - std::cos(static_cast<double>(i) * two_pi / length);
  }
}

void PitchDetector::window(const double* source) {
  for (std::size_t i = 0; i < window_.size(); ++i) frame_[i] = window_[i] * (source[i] * 0.5);
}

PitchEstimate PitchDetector::detect(std::span<const double> samples, std::uint32_t fft_size,
                                    std::uint32_t fft_hop, std::uint32_t sample_rate,
                                    std::uint32_t peak_threshold, std::uint32_t peak_count) {
  if (static_cast<std::uint64_t>(fft_size) + fft_hop > samples.size()) {
    return {0.0, PitchStatus::TooFewSamples};
  }
  prepare(fft_size);
  // The transform of a frame into real_ and imaginary_: the window, then
  // the recipe's FFT; or the window straight into the planned FFT, which
  // gives the same values.
  const bool planned = evaluation_ == Evaluation::fast && plan_.size() == fft_size;
  const auto transform = [&](const double* source) {
    if (planned) {
      plan_.forward_real([&](std::uint32_t i) { return window_[i] * (source[i] * 0.5); },
                         real_.data(), imaginary_.data());
    } else {
      window(source);
      fft_double(fft_size, 0, frame_.data(), nullptr, real_.data(), imaginary_.data());
    }
  };
  transform(samples.data());
  magnitude_spectrum(real_.data(), imaginary_.data(), magnitudes_.data(), fft_size / 2);

  const BinSearchResult fundamental =
      find_fundamental(magnitudes_, static_cast<double>(peak_threshold), peak_count);
  if (!fundamental.found) return {0.0, PitchStatus::NoPeaks};

  // The transform's kernel has a positive exponent, so a component's bin
  // shows the negative of its phase: negate to read the phase itself.
  const std::uint32_t k = fundamental.bin;
  const double first_phase = -phase_angle(imaginary_[k], real_[k]);

  transform(samples.data() + fft_hop);
  const double second_phase = -phase_angle(imaginary_[k], real_[k]);

  return {phase_difference_frequency(k, first_phase, second_phase, fft_hop, fft_size, sample_rate),
          PitchStatus::Found};
}

}  // namespace toneprint
