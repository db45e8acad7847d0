#include "analysis/partial_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

using namespace toneprint;

namespace {

constexpr double two_pi = 6.283185307179586;
constexpr std::uint32_t rate = 44100;

// A tone whose every partial is known: partial n of a string of stiffness B
// at n F sqrt(1 + B n²) (F such that partial 1 lies at f1), its level in dB
// of partial 1 (NaN: absent), the whole pitch under a sine vibrato in cents
// and the whole level under a tremolo in dB, with white noise of the given
// RMS. Partial 1's peak is 6000.
struct Truth {
  double f1;
  double b;
  std::vector<double> levels_db;
  double vibrato_cents = 0.0, vibrato_hz = 0.0, tremolo_db = 0.0;
  double noise = 0.5;

  double ratio(int n) const { return n * std::sqrt((1.0 + b * n * n) / (1.0 + b)); }

  std::vector<double> samples(std::size_t count) const {
    std::vector<double> x(count, 0.0);
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, noise);
    double cycles = 0.0;  // of partial 1, by the trapezoid rule
    double previous = f1 * std::exp2(vibrato_cents / 1200.0 * std::sin(0.0));
    for (std::size_t i = 0; i < count; ++i) {
      const double t = static_cast<double>(i) / rate;
      const double f = f1 * std::exp2(vibrato_cents / 1200.0 * std::sin(two_pi * vibrato_hz * t));
      if (i > 0) cycles += 0.5 * (f + previous) / rate;
      previous = f;
      double value = 0.0;
      for (std::size_t k = 0; k < levels_db.size(); ++k) {
        if (std::isnan(levels_db[k])) continue;
        const int n = static_cast<int>(k) + 1;
        value += 6000.0 * std::pow(10.0, levels_db[k] / 20.0) *
                 std::cos(two_pi * ratio(n) * cycles + 0.7 * n);
      }
      x[i] = value * std::pow(10.0, tremolo_db / 20.0 * std::sin(two_pi * vibrato_hz * t + 1.0)) +
             gauss(random);
    }
    return x;
  }
};

double cents(double a, double b) { return 1200.0 * std::log2(a / b); }

}  // namespace

// Each pass finds every partial at its own frequency with its level, flags
// the absent one, and fits the string's B: harmonic and stiff strings read
// as they are, a vibrato's partials read along the fundamental's phase.
TEST(PartialsAnalysis, FindsEachPartialWhereItIsWithItsLevel) {
  const double absent = NAN;
  const std::vector<double> levels = {0, -6, -14, absent, -20, -33, -27, -45, -52, -38, -58};
  struct Case {
    const char* what;
    Truth truth;
    double seconds;
    bool followed;
    double level_tolerance_db;
    double detected = 1.002;  // the pass's fundamental as a detection gave it, relative
  };
  // A piano's lowest notes: the fundamental 30 dB below the next partials.
  const std::vector<double> weak = {0, 30, 27, 29, 24, 25, 18, absent, 12, 15, 6};
  const Case cases[] = {
      {"steady harmonic C4", {261.63, 0.0, levels}, 0.35, false, 0.05},
      {"stiff A2, B 4e-4", {110.0, 4e-4, levels}, 0.35, false, 0.05},
      {"stiff C6, B 2e-3", {1046.5, 2e-3, levels}, 0.35, false, 0.05},
      {"stiff A0, B 1e-4", {27.5, 1e-4, levels}, 0.9, false, 0.05},
      {"C4, vibrato 30 c at 5.5 Hz, tremolo 2 dB",
       {261.63, 0.0, levels, 30.0, 5.5, 2.0},
       0.35,
       true,
       0.3},
      {"A0 with a weak fundamental, detected 8 % high", {27.5, 2e-4, weak}, 1.0, false, 0.05, 1.08},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto length = static_cast<std::size_t>(c.seconds * rate);
    const std::vector<double> x = c.truth.samples(length);
    const std::vector<double>& truth_levels = c.truth.levels_db;
    const std::optional<PassPartials> pass = analyse_partials(
        x, 1000, c.truth.f1 * c.detected, rate, static_cast<int>(truth_levels.size()));
    ASSERT_TRUE(pass.has_value());
    EXPECT_EQ(pass->followed, c.followed);
    std::size_t expected_count = 0;
    while (expected_count < truth_levels.size() &&
           c.truth.ratio(static_cast<int>(expected_count) + 1) * c.truth.f1 < 0.45 * rate) {
      ++expected_count;
    }
    ASSERT_EQ(pass->partials.size(), expected_count);
    if (!c.followed) {
      EXPECT_LT(std::fabs(cents(pass->frequency, c.truth.f1)), 0.05);
    }
    const double first = pass->partials[0].amplitude;
    EXPECT_NEAR(first, 6000.0, c.followed ? 400.0 : 5.0);
    for (const PassPartial& p : pass->partials) {
      const double truth_db = truth_levels[static_cast<std::size_t>(p.number) - 1];
      if (std::isnan(truth_db)) {
        EXPECT_TRUE(p.below_noise) << p.number;
        continue;
      }
      ASSERT_FALSE(p.below_noise) << p.number;
      EXPECT_NEAR(20.0 * std::log10(p.amplitude / first), truth_db, c.level_tolerance_db)
          << p.number;
      EXPECT_LT(std::fabs(cents(p.ratio, c.truth.ratio(p.number))), 0.1) << p.number;
    }
    if (c.truth.b > 0.0 && expected_count >= 6) {
      EXPECT_NEAR(pass->b, c.truth.b, 0.02 * c.truth.b);
    }
    // The track follows the vibrato: within a few cents of its extent.
    double low = INFINITY, high = -INFINITY;
    for (const PitchPoint& point : pass->track) {
      EXPECT_GE(point.sample, 1000u);
      low = std::min(low, cents(point.frequency, c.truth.f1));
      high = std::max(high, cents(point.frequency, c.truth.f1));
    }
    EXPECT_NEAR((high - low) / 2.0, c.truth.vibrato_cents, 3.0);
  }
}

// Asked for fewer partials than the one it follows, a pass still finds the
// fundamental through it, and gives only those asked for.
TEST(PartialsAnalysis, FollowsALouderPartialThanThoseAskedFor) {
  const Truth a0{27.5, 2e-4, {0, 30, 27, 29, 24}};
  const std::optional<PassPartials> pass = analyse_partials(a0.samples(rate), 0, 29.7, rate, 1);
  ASSERT_TRUE(pass.has_value());
  ASSERT_EQ(pass->partials.size(), 1u);
  EXPECT_FALSE(pass->partials[0].below_noise);
  EXPECT_LT(std::fabs(cents(pass->frequency, 27.5)), 0.05);
  EXPECT_EQ(pass->b_partials, 0);
}

// What cannot be read gives no result, never a number from nothing.
TEST(PartialsAnalysis, GivesNothingForWhatCannotBeRead) {
  const Truth c4{261.63, 0.0, {0, -6, -12}};
  const std::vector<double> x = c4.samples(rate / 2);
  const std::vector<double> silence(rate / 2, 0.0);
  const struct {
    const char* what;
    std::vector<double> samples;
    double f0;
    std::uint32_t sample_rate;
    int count;
  } cases[] = {
      {"no fundamental", x, 0.0, rate, 3},
      {"a fundamental that is not a number", x, NAN, rate, 3},
      {"an infinite fundamental", x, INFINITY, rate, 3},
      {"no sample rate", x, 261.63, 0, 3},
      {"no partial asked for", x, 261.63, rate, 0},
      {"fewer than 24 cycles", std::vector<double>(x.begin(), x.begin() + 4000), 261.63, rate, 3},
      {"silence", silence, 261.63, rate, 3},
      {"a fundamental above the partials' limit", x, 0.46 * rate, rate, 3},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(analyse_partials(c.samples, 0, c.f0, c.sample_rate, c.count).has_value())
        << c.what;
  }
  EXPECT_EQ(partials_frame_length(27.5, rate), 38488u);  // 24 cycles, rounded up
  EXPECT_EQ(partials_frame_length(-1.0, rate), 0u);
}

// The vibrato of a pitch track: a sine's rate, extent and centre; a steady
// track, a track too short for one slow cycle and noise have none.
TEST(PartialsAnalysis, FitsTheVibratoOfAPitchTrack) {
  const auto track = [](double centre, double cents, double hz, double seconds, double jitter) {
    std::vector<PitchPoint> points;
    std::mt19937 random(3);
    std::normal_distribution<double> gauss(0.0, jitter);
    for (double t = 0.0; t < seconds; t += 0.005) {
      const double c = cents * std::sin(two_pi * hz * t + 0.4) + gauss(random);
      points.push_back({static_cast<std::uint64_t>(t * rate), centre * std::exp2(c / 1200.0)});
    }
    return points;
  };
  const struct {
    const char* what;
    std::vector<PitchPoint> points;
    bool found;
    double hz, cents;
  } cases[] = {
      {"a singer's", track(440.0, 25.0, 5.5, 1.5, 0.3), true, 5.5, 25.0},
      {"a slow wide one", track(196.0, 50.0, 4.0, 1.2, 0.3), true, 4.0, 50.0},
      {"a fast narrow one", track(880.0, 10.0, 8.0, 1.0, 0.3), true, 8.0, 10.0},
      {"none", track(440.0, 0.0, 5.0, 1.5, 0.3), false, 0, 0},
      {"too short", track(440.0, 25.0, 5.5, 0.3, 0.3), false, 0, 0},
      {"noise of 3 cents", track(440.0, 0.0, 5.0, 1.5, 3.0), false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The centre given is 10 cents off: the fit moves it to the vibrato's.
    const double given = c.points.front().frequency /
                         std::exp2((c.cents * std::sin(0.4)) / 1200.0) * std::exp2(10.0 / 1200.0);
    double centre = given;
    const std::optional<Vibrato> vibrato = fit_vibrato(c.points, rate, centre);
    ASSERT_EQ(vibrato.has_value(), c.found);
    if (!c.found) {
      EXPECT_EQ(centre, given);
      continue;
    }
    EXPECT_NEAR(vibrato->rate_hz, c.hz, 0.05);
    EXPECT_NEAR(vibrato->extent_cents, c.cents, 0.5);
    EXPECT_NEAR(cents(centre, given), -10.0, 0.3);
  }
}

// A tone's summary of its passes: means over the passes that found a
// partial, below the noise when at least half did not find it, levels
// relative to partial 1, B's uncertainty from the passes' spread or, from
// one pass, its fit.
TEST(PartialsAnalysis, SummarisesAToneOverItsPasses) {
  const auto pass = [](double f, double b, double b_error, std::vector<PassPartial> partials) {
    PassPartials p;
    p.frequency = f;
    p.b = b;
    p.b_error = b_error;
    p.b_partials = b_error > 0.0 ? 3 : 0;
    p.partials = std::move(partials);
    return p;
  };
  const PassPartial one{1, 1.0, 1000.0, 1.0, false};
  const PassPartials a =
      pass(100.0, 2e-4, 1e-5, {one, {2, 2.001, 100.0, 1.0, false}, {3, 3.0, 0.5, 1.0, true}});
  const PassPartials b =
      pass(102.0, 4e-4, 1e-5, {one, {2, 2.003, 300.0, 1.0, false}, {3, 3.01, 50.0, 1.0, false}});
  const PassPartials c = pass(101.0, 0.0, 0.0, {one, {2, 2.0, 0.1, 1.0, true}});

  const PassPartials* two[] = {&a, &b};
  const std::optional<TonePartials> tone = summarise_partials(two, rate);
  ASSERT_TRUE(tone.has_value());
  EXPECT_DOUBLE_EQ(tone->frequency, 101.0);
  ASSERT_EQ(tone->partials.size(), 3u);
  EXPECT_DOUBLE_EQ(*tone->partials[1].amplitude, 200.0);
  EXPECT_DOUBLE_EQ(*tone->partials[1].frequency, 2.002 * 101.0);
  EXPECT_NEAR(*tone->partials[1].cents_from_harmonic, 1200.0 * std::log2(2.002 / 2.0), 1e-9);
  EXPECT_NEAR(*tone->partials[1].level_db, 20.0 * std::log10(0.2), 1e-9);
  // Found in one pass of two: below the noise, with nothing read.
  EXPECT_TRUE(tone->partials[2].below_noise);
  EXPECT_FALSE(tone->partials[2].amplitude || tone->partials[2].frequency ||
               tone->partials[2].level_db);
  ASSERT_TRUE(tone->inharmonicity.has_value());
  EXPECT_DOUBLE_EQ(tone->inharmonicity->b, 3e-4);
  EXPECT_TRUE(tone->inharmonicity->from_passes);
  EXPECT_NEAR(tone->inharmonicity->uncertainty, 1e-4, 1e-12);  // sd 1.41e-4 over sqrt 2
  EXPECT_FALSE(tone->vibrato.has_value());

  // One pass with a fit, one without: B and its error from the one.
  const PassPartials* one_fit[] = {&a, &c};
  const std::optional<TonePartials> single = summarise_partials(one_fit, rate);
  ASSERT_TRUE(single && single->inharmonicity);
  EXPECT_DOUBLE_EQ(single->inharmonicity->b, 2e-4);
  EXPECT_DOUBLE_EQ(single->inharmonicity->uncertainty, 1e-5);
  EXPECT_FALSE(single->inharmonicity->from_passes);
  EXPECT_TRUE(single->partials[1].below_noise);  // below in one of two

  const PassPartials* none[] = {nullptr};
  EXPECT_FALSE(summarise_partials(none, rate).has_value());
}
