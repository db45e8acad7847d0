#pragma once

// Timbre descriptors of a tone: the few numbers that papers and other tools
// of the field report, computed from the tone's mean amplitudes. With A_k
// the amplitude of harmonic number k (k = 1 is the fundamental):
//
// - spectral centroid: sum k A_k / sum A_k, as a harmonic number and times
//   f0 in Hz (the amplitude-weighted centroid of a harmonic spectrum, as in
//   Peeters et al., "The Timbre Toolbox", JASA 130(5), 2011);
// - odd-to-even ratio: 10 log10(sum A_k² over odd k >= 3 / sum A_k² over
//   even k), in dB (the odd-to-even harmonic energy ratio, ibid.);
// - tristimulus on amplitudes: T1 = A_1 / sum A_k, T2 = (A_2 + A_3 + A_4) /
//   sum A_k, T3 = sum A_k over k >= 5 / sum A_k (Pollard and Jansson,
//   Acustica 51, 1982);
// - spectral slope: the least-squares slope of 20 log10(A_k) against
//   log2(k), in dB per octave (the slope of a spectrum's regression line,
//   Peeters et al. as above, on the harmonics' levels).
//
// A harmonic above half the sample rate, not measured, or not above
// amplitude_floor is left out of every sum; harmonics_used counts those
// that were not.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "analysis/tone_results.h"

namespace toneprint {

// The smallest amplitude (on the 16-bit scale) taken as a harmonic that is
// there: 1e-4, -170 dBFS, below the noise of any recording (a 24-bit one's
// lies near -180 dBFS in a frame's single frequency, a 16-bit one's near
// -130). What a measurement reads below it, where a tone has no such
// harmonic, is the rounding of its sums, which differs from one harmonic
// kernel to another; counted, its logarithm would decide the descriptors.
inline constexpr double amplitude_floor = 1e-4;

struct TimbreDescriptors {
  int harmonics_used = 0;
  double centroid_harmonic = 0.0;
  double centroid_hz = 0.0;
  // None when either sum is zero (no even harmonic, as in an odd-only
  // spectrum or a lone fundamental; or no odd one from 3 up): the ratio
  // would be infinite.
  std::optional<double> odd_even_db;
  double t1 = 0.0;
  double t2 = 0.0;
  double t3 = 0.0;
  // None with fewer than two harmonics: a line needs two points.
  std::optional<double> slope_db_per_octave;
};

// The descriptors of amplitudes[k - 1] = A_k at harmonic numbers k of f0
// (Hz) in a recording of `sample_rate`; none when no harmonic is left.
std::optional<TimbreDescriptors> timbre_descriptors(
    std::span<const std::optional<double>> amplitudes, double f0, std::uint32_t sample_rate);

// A measured tone's amplitudes as its descriptors take them: amplitudes[k - 1]
// = A_k, from its partials (those below the noise left out) with `partials`
// where the partials analysis summed them up, otherwise its mean harmonic
// amplitudes.
std::vector<std::optional<double>> tone_amplitudes(const ToneRecord& tone, bool partials);

// A measured tone's descriptors: with `partials` (the run asked for them)
// and where the partials analysis summed them up, from its partials (those
// below the noise left out, at partial 1's frequency), otherwise from its
// mean harmonic amplitudes.
std::optional<TimbreDescriptors> tone_timbre(const ToneRecord& tone, std::uint32_t sample_rate,
                                             bool partials);

}  // namespace toneprint
