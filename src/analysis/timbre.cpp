#include "analysis/timbre.h"

#include <cmath>
#include <vector>

namespace toneprint {

std::optional<TimbreDescriptors> timbre_descriptors(
    std::span<const std::optional<double>> amplitudes, double f0, std::uint32_t sample_rate) {
  TimbreDescriptors d;
  double sum = 0.0;
  double weighted = 0.0;
  double odd_energy = 0.0;
  double even_energy = 0.0;
  double first = 0.0;
  double second_to_fourth = 0.0;
  // The regression's sums over x = log2(k), y = 20 log10(A_k).
  double sx = 0.0;
  double sy = 0.0;
  double sxx = 0.0;
  double sxy = 0.0;
  const double nyquist = sample_rate / 2.0;
  for (std::size_t i = 0; i < amplitudes.size(); ++i) {
    const std::optional<double>& a = amplitudes[i];
    const double k = static_cast<double>(i + 1);
    if (!a || !std::isfinite(*a) || !(*a > amplitude_floor) || k * f0 > nyquist) continue;
    ++d.harmonics_used;
    sum += *a;
    weighted += k * *a;
    if (i == 0) {
      first = *a;
    } else if (i <= 3) {
      second_to_fourth += *a;
    }
    if (i % 2 == 1) {
      even_energy += *a * *a;
    } else if (i >= 2) {
      odd_energy += *a * *a;
    }
    const double x = std::log2(k);
    const double y = 20.0 * std::log10(*a);
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
  }
  if (d.harmonics_used == 0 || !(f0 > 0.0)) return std::nullopt;
  d.centroid_harmonic = weighted / sum;
  d.centroid_hz = d.centroid_harmonic * f0;
  if (odd_energy > 0.0 && even_energy > 0.0) {
    d.odd_even_db = 10.0 * std::log10(odd_energy / even_energy);
  }
  d.t1 = first / sum;
  d.t2 = second_to_fourth / sum;
  d.t3 = (sum - first - second_to_fourth) / sum;
  if (d.harmonics_used >= 2) {
    const double n = d.harmonics_used;
    d.slope_db_per_octave = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  }
  return d;
}

std::vector<std::optional<double>> tone_amplitudes(const ToneRecord& tone, bool partials) {
  std::vector<std::optional<double>> amplitudes;
  if (partials && tone.partials) {
    for (const TonePartial& p : tone.partials->partials) {
      if (p.number < 1) continue;
      const auto index = static_cast<std::size_t>(p.number - 1);
      if (amplitudes.size() <= index) amplitudes.resize(index + 1);
      if (!p.below_noise) amplitudes[index] = p.amplitude;
    }
    return amplitudes;
  }
  for (std::size_t k = 0; k < tone.totals.amplitude_sums.size(); ++k) {
    amplitudes.push_back(tone.harmonic(k));
  }
  return amplitudes;
}

std::optional<TimbreDescriptors> tone_timbre(const ToneRecord& tone, std::uint32_t sample_rate,
                                             bool partials) {
  if (!tone.measured()) return std::nullopt;
  const std::vector<std::optional<double>> amplitudes = tone_amplitudes(tone, partials);
  const double f0 = partials && tone.partials ? tone.partials->frequency : tone.frequency();
  return timbre_descriptors(amplitudes, f0, sample_rate);
}

}  // namespace toneprint
