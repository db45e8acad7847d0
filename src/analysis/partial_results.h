#pragma once

// What the partials analysis finds: per pass, each partial at its own
// frequency with the noise around it, the stiffness of the string that the
// partials' spacing shows, and the fundamental's frequency along the pass;
// per tone, their summary.
//
// Partial n (1 is the fundamental) of a stiff string lies at
// f_n = n F sqrt(1 + B n²), F the frequency the string would have without
// stiffness and B its inharmonicity coefficient. Frequencies here are given
// as ratios to partial 1, f_n / f_1 = n sqrt((1 + B n²) / (1 + B)), so that
// a harmonic tone's partial n has ratio n.

#include <cstdint>
#include <optional>
#include <vector>

namespace toneprint {

// Partials lie below this fraction of the sample rate to be measured.
inline constexpr double partial_rate_limit = 0.45;

// A partial is below the noise unless its amplitude is more than this many
// times the RMS of the noise measured between the partials around it.
inline constexpr double below_noise_factor = 5.0;

struct PassPartial {
  int number = 0;            // 1 is the fundamental
  double ratio = 0.0;        // frequency / partial 1's
  double amplitude = 0.0;    // on the harmonics' scale (sample units)
  double noise = 0.0;        // the RMS amplitude of the noise around it
  bool below_noise = false;  // amplitude <= below_noise_factor × noise
};

// The fundamental's frequency at a sample: the pitch track.
struct PitchPoint {
  std::uint64_t sample = 0;
  double frequency = 0.0;  // Hz
};

struct PassPartials {
  // Partial 1's mean frequency over the pass (Hz).
  double frequency = 0.0;
  // Whether the pass was read along the fundamental's own phase (its pitch
  // moved), rather than at one frequency.
  bool followed = false;
  // Partials 1, 2, ... up to the count asked for or the rate limit.
  std::vector<PassPartial> partials;
  // The least-squares B over the partials above the noise (weighted by
  // their level), its standard error from the fit's residuals (NaN with
  // fewer than two partials besides the fundamental), and how many it used.
  double b = 0.0;
  double b_error = 0.0;
  int b_partials = 0;
  std::vector<PitchPoint> track;
};

struct TonePartial {
  int number = 0;
  // The mean of the passes that found it above the noise; none when it was
  // below the noise in at least half the passes that looked for it.
  std::optional<double> frequency;            // Hz
  std::optional<double> cents_from_harmonic;  // from number × partial 1's frequency
  std::optional<double> amplitude;
  std::optional<double> level_db;  // relative to partial 1
  bool below_noise = false;
};

struct Inharmonicity {
  double b = 0.0;
  // The standard error of B: from the spread of the passes' B when two or
  // more passes gave one, otherwise from the one pass's fit.
  double uncertainty = 0.0;
  bool from_passes = false;
};

struct Vibrato {
  double rate_hz = 0.0;
  double extent_cents = 0.0;  // peak deviation: half of peak to peak
};

struct TonePartials {
  // Partial 1's frequency: the mean over the passes, or the vibrato's
  // centre when it has one.
  double frequency = 0.0;
  std::optional<Inharmonicity> inharmonicity;
  std::optional<Vibrato> vibrato;
  std::vector<TonePartial> partials;
};

}  // namespace toneprint
