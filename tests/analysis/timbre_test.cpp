#include "analysis/timbre.h"

#include <cmath>
#include <optional>
#include <vector>

#include "support/test_support.h"

using namespace toneprint;

namespace {

constexpr std::optional<double> none = std::nullopt;
// 20 log10(1/k) against log2(k): a 1/k spectrum falls 20 log10(2) dB an octave.
const double one_over_k_slope = -20.0 * std::log10(2.0);

struct Expected {
  int used;
  double centroid_harmonic, f0;
  std::optional<double> odd_even_db;
  double t1, t2, t3;
  std::optional<double> slope;
};

void expect_descriptors(const std::optional<TimbreDescriptors>& d, const Expected& e,
                        const char* what) {
  ASSERT_TRUE(d.has_value()) << what;
  EXPECT_EQ(d->harmonics_used, e.used) << what;
  EXPECT_NEAR(d->centroid_harmonic, e.centroid_harmonic, 1e-9) << what;
  EXPECT_NEAR(d->centroid_hz, e.centroid_harmonic * e.f0, 1e-6) << what;
  EXPECT_EQ(d->odd_even_db.has_value(), e.odd_even_db.has_value()) << what;
  if (d->odd_even_db && e.odd_even_db) {
    EXPECT_NEAR(*d->odd_even_db, *e.odd_even_db, 1e-9) << what;
  }
  EXPECT_NEAR(d->t1, e.t1, 1e-9) << what;
  EXPECT_NEAR(d->t2, e.t2, 1e-9) << what;
  EXPECT_NEAR(d->t3, e.t3, 1e-9) << what;
  EXPECT_EQ(d->slope_db_per_octave.has_value(), e.slope.has_value()) << what;
  if (d->slope_db_per_octave && e.slope) {
    EXPECT_NEAR(*d->slope_db_per_octave, *e.slope, 1e-9) << what;
  }
}

}  // namespace

// References worked out by hand from each table of amplitudes A_1, A_2, ...
TEST(TimbreDescriptors, MatchHandComputedValuesForTablesOfAmplitudes) {
  const struct {
    const char* what;
    std::vector<std::optional<double>> amplitudes;
    double f0;
    std::uint32_t rate;
    Expected expected;
  } cases[] = {
      // A_k = 1/k, k = 1..6: sum 49/20, sum k A_k = 6; odd k >= 3 energy
      // 1/9 + 1/25 = 34/225, even 1/4 + 1/16 + 1/36 = 49/144.
      {"plain 1/k",
       {1.0, 1.0 / 2, 1.0 / 3, 1.0 / 4, 1.0 / 5, 1.0 / 6},
       100.0,
       48000,
       {6, 120.0 / 49, 100.0, 10.0 * std::log10((34.0 / 225) / (49.0 / 144)), 20.0 / 49, 65.0 / 147,
        22.0 / 147, one_over_k_slope}},
      // Odd harmonics only (even ones not measured, or read as the
      // rounding of the measurement's sums): no even energy, so no ratio.
      // Sum 23/15, sum k A_k = 3.
      {"odd only",
       {1.0, none, 1.0 / 3, 1.7e-11, 1.0 / 5},
       100.0,
       48000,
       {3, 45.0 / 23, 100.0, none, 15.0 / 23, 5.0 / 23, 3.0 / 23, one_over_k_slope}},
      // At 10 kHz in 44.1 kHz only harmonics 1 and 2 lie below 22.05 kHz:
      // 3 and 4 are left out although they have amplitudes, and with them
      // the only odd harmonic from 3 up.
      {"above the Nyquist limit",
       {1.0, 0.5, 0.25, 0.125},
       10000.0,
       44100,
       {2, 4.0 / 3, 10000.0, none, 2.0 / 3, 1.0 / 3, 0.0, 20.0 * std::log10(0.5)}},
      // One harmonic: no line through it, no even energy.
      {"lone fundamental", {2.0, none}, 440.0, 44100, {1, 1.0, 440.0, none, 1.0, 0.0, 0.0, none}},
      // Even energy but none from odd harmonics above the fundamental.
      {"no odd overtone", {1.0, 1.0}, 200.0, 44100, {2, 1.5, 200.0, none, 0.5, 0.5, 0.0, 0.0}},
  };
  for (const auto& c : cases) {
    expect_descriptors(timbre_descriptors(c.amplitudes, c.f0, c.rate), c.expected, c.what);
  }
  const std::vector<std::optional<double>> nothing = {none, 0.0, none};
  EXPECT_FALSE(timbre_descriptors(nothing, 100.0, 44100).has_value());
}

// A tone's descriptors come from its mean harmonics, or from its partials
// (those below the noise left out, at partial 1's frequency) when the
// partials analysis summed them up.
TEST(TimbreDescriptors, ToneUsesItsHarmonicsOrItsPartialsAboveTheNoise) {
  ToneRecord tone;
  tone.totals.pass_count = 2;
  tone.totals.frequency_sum = 400.0;  // f0 200 Hz
  tone.totals.amplitude_sums = {2.0, 1.0, 0.0};
  tone.totals.measured_counts = {2, 2, 0};  // A = 1, 1/2, not measured
  expect_descriptors(tone_timbre(tone, 44100, true),
                     {2, 4.0 / 3, 200.0, none, 2.0 / 3, 1.0 / 3, 0.0, 20.0 * std::log10(0.5)},
                     "harmonics");

  TonePartials partials;
  partials.frequency = 210.0;
  partials.partials = {{1, 210.0, 0.0, 1.0, 0.0, false},
                       {2, 420.0, 0.0, 0.5, 0.0, true},
                       {3, 630.0, 0.0, 1.0 / 3, 0.0, false}};
  tone.partials = partials;
  // A_1 = 1, A_3 = 1/3: sum 4/3, sum k A_k = 2.
  expect_descriptors(tone_timbre(tone, 44100, true),
                     {2, 1.5, 210.0, none, 0.75, 0.25, 0.0, one_over_k_slope}, "partials");
  // Without the partials asked for, the harmonics again.
  EXPECT_NEAR(tone_timbre(tone, 44100, false)->centroid_harmonic, 4.0 / 3, 1e-9);
  EXPECT_FALSE(tone_timbre(ToneRecord{}, 44100, true).has_value());
}
