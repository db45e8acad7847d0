#include "analysis/pitch_detection.h"
#include "analysis/tone_results.h"
#include "analysis/vote_check.h"
#include "support/test_support.h"

using namespace toneprint;
namespace test = toneprint::test;

TEST(PeriodFrequency, FindsThePeriodOfToneWithOrWithoutItsFundamental) {
  const struct {
    double fundamental;
    std::vector<test::Partial> partials;
    std::uint32_t rate;
  } cases[] = {
      {440.0, {{1, 8000, 0}}, 44100},
      {82.41, {{1, 8000, 0}, {2, 4000, 1}, {3, 2000, 2}}, 48000},
      {1975.5, {{1, 8000, 0}, {2, 3000, 1}}, 44100},
      {220.0, {{2, 6000, 0}, {3, 5000, 1}, {4, 3000, 2}}, 44100},  // no fundamental
      {25.0, {{1, 8000, 0}, {2, 8000, 1}}, 22050},
  };
  for (const auto& c : cases) {
    const std::vector<double> samples =
        test::synthesise({c.fundamental, c.partials}, c.rate, 8192, false);
    EXPECT_NEAR(period_frequency(samples, c.rate), c.fundamental, c.fundamental * 0.001)
        << c.fundamental;
  }
  // Noise has no period; too few samples give none.
  std::mt19937 random(3);
  std::normal_distribution<double> noise(0.0, 3000.0);
  std::vector<double> hiss(8192);
  for (double& s : hiss) s = noise(random);
  EXPECT_EQ(period_frequency(hiss, 44100), 0.0);
  EXPECT_EQ(period_frequency(std::vector<double>(8, 1.0), 44100), 0.0);
  // A limit on the lags keeps the estimate from looking at longer periods.
  const std::vector<double> low = test::synthesise({100.0, {{1, 8000, 0}}}, 44100, 8192, false);
  EXPECT_EQ(period_frequency(low, 44100, 0.15, 300), 0.0);  // its period is 441 samples
}

namespace {

// The vote and the checked vote of a pass over the first samples of a tone.
std::pair<double, CheckedVote> checked(const test::ToneRecipe& recipe) {
  constexpr std::uint32_t rate = 44100, size = 8192, hop = 1024;
  const std::vector<double> block = test::synthesise(recipe, rate, size + hop);
  PitchDetector detector;
  const PitchEstimate vote = detector.detect(block, size, hop, rate, 40, 5);
  VoteChecker checker;
  return {vote.frequency,
          checker.check(block, detector.magnitudes(), size, hop, rate, 40, 5, vote.frequency)};
}

}  // namespace

// A partial at 1.5 f0 makes half the fundamental the commonest spacing;
// the check rejects its empty bin. A clean tone keeps its vote.
TEST(VoteChecker, ReplacesAVoteWithoutEnergyAndKeepsAGoodOne) {
  const auto [organ_vote, organ] = checked(
      {110.0,
       {{2, 6000, 0}, {3, 5000, 1}, {4, 6000, 2}, {6, 4000, 3}, {8, 3000, 4}, {9, 2000, 5}}});
  // As a recipe of harmonics of 110 Hz: 220, 330, 440, 660, 880 and 990 Hz.
  // The waveform repeats at 110 Hz too, where there is no energy: the
  // lowest peak takes the vote's place.
  EXPECT_GT(std::fabs(test::cents(organ_vote, 220.0)), 50.0) << organ_vote;
  EXPECT_EQ(organ.outcome, VoteOutcome::replaced_by_lowest_peak);
  EXPECT_NEAR(organ.frequency, 220.0, 0.01);

  // Each partial of a 494 Hz tone split in two, 4 % apart (a chorus): the
  // vote takes the split's spacing, the period finds the tone.
  const auto [chorus_vote, chorus] = checked(
      {19.76,
       {{25, 8000, 0}, {26, 7000, 1}, {50, 4000, 2}, {52, 3500, 3}, {75, 2000, 4}, {78, 1800, 5}}});
  EXPECT_LT(chorus_vote, 100.0);
  EXPECT_EQ(chorus.outcome, VoteOutcome::replaced_by_period);
  EXPECT_NEAR(test::cents(chorus.frequency, 494.0), 0.0, 50.0) << chorus.frequency;

  const auto [clean_vote, clean] = checked({329.63, {{1, 9000, 0}, {2, 4000, 1}, {3, 2000, 2}}});
  EXPECT_EQ(clean.outcome, VoteOutcome::kept);
  EXPECT_EQ(clean.frequency, clean_vote);
  EXPECT_NEAR(clean.frequency, 329.63, 0.01);
}

// The octave guard, given the pitch expected of a pass: it takes the
// expected multiple of the vote where the spectrum or the period shows that
// pitch, keeps the vote where neither does, and leaves alone a vote that is
// no octave, twelfth or double octave away.
TEST(OctaveGuard, TakesTheExpectedPitchOnlyWhereTheToneShowsIt) {
  constexpr std::uint32_t rate = 44100, size = 8192, hop = 1024;
  const struct {
    const char* name;
    test::ToneRecipe recipe;
    double expected;  // Hz
    bool checked;
    bool taken;
    double frequency;  // Hz, of the pass from here on
  } cases[] = {
      // An organ's note with a quieter rank an octave below it: the vote
      // finds 130.8 Hz, the note's harmonics carry most of the energy.
      {"sub-octave rank",
       {130.81, {{1, 2500, 0}, {2, 9000, 1}, {3, 800, 2}, {4, 6000, 3}, {6, 3000, 4}}},
       261.63, true, true, 261.63},
      // The same played an octave low on purpose: a clarinet-like tone,
      // whose odd harmonics carry the energy.
      {"clarinet expected an octave up",
       {130.81, {{1, 9000, 0}, {3, 6000, 1}, {5, 4000, 2}, {2, 300, 3}, {4, 200, 4}}},
       261.63, true, false, 130.81},
      // A weak fundamental, with its odd harmonics 27 dB below the even
      // ones: expected 220 Hz where the vote gave 440.
      {"weak fundamental",
       {220.0, {{1, 300, 0}, {2, 9000, 1}, {3, 300, 2}, {4, 6000, 3}, {5, 210, 4}}}, 220.0,
       true, true, 220.0},
      // A clean 440 Hz tone expected an octave lower: nothing shows 220 Hz.
      {"clean tone expected an octave down", {440.0, {{1, 9000, 0}, {2, 4000, 1}}}, 220.0, true,
       false, 440.0},
      {"a twelfth", {130.81, {{1, 1500, 0}, {3, 9000, 1}, {6, 5000, 2}, {9, 3000, 3}}}, 392.44,
       true, true, 392.44},
      {"a fifth away", {440.0, {{1, 9000, 0}, {2, 4000, 1}}}, 660.0, false, false, 440.0},
  };
  for (const auto& c : cases) {
    const std::vector<double> block = test::synthesise(c.recipe, rate, size + hop);
    PitchDetector detector;
    const PitchEstimate vote = detector.detect(block, size, hop, rate, 40, 5);
    const std::optional<OctaveCheck> check =
        guard_octave(std::span<const double>(block).first(size), detector.magnitudes(), size,
                     rate, vote.frequency, c.expected);
    ASSERT_EQ(check.has_value(), c.checked) << c.name << ": vote " << vote.frequency;
    if (!check) continue;
    EXPECT_EQ(check->taken, c.taken) << c.name << ": vote " << vote.frequency;
    EXPECT_EQ(check->measured, vote.frequency) << c.name;
    EXPECT_NEAR(test::cents(check->frequency, c.frequency), 0.0, 5.0) << c.name;
    EXPECT_EQ(check->evidence == OctaveEvidence::none, !c.taken) << c.name;
  }
}

// The passes within 50 cents of the best-supported one stay; a tie goes to
// the tighter group, then the earlier.
TEST(Consensus, KeepsThePassesThatAgreeWithTheBestSupportedOne) {
  const struct {
    std::vector<double> fundamentals;
    std::vector<bool> used;
  } cases[] = {
      {{494.0, 494.5, 374.0, 493.8}, {true, true, false, true}},
      {{440.0, 441.0, 300.0, 302.0}, {true, true, false, false}},  // tighter: 1.7 against 11.5 c
      {{300.0, 302.0, 440.0, 441.0}, {false, false, true, true}},
      {{300.0, 440.0}, {true, false}},  // the earlier
      {{440.0, 440.0, 440.0}, {true, true, true}},
      {{440.0}, {true}},
  };
  for (const auto& c : cases) {
    ToneRecord tone;
    tone.totals.reset(1);
    for (std::size_t i = 0; i < c.fundamentals.size(); ++i) {
      const double f = c.fundamentals[i];
      tone.passes.push_back({i * 1000, f, {f * 10.0, f}});
      tone.totals.add_pass(f, tone.passes.back().amplitudes);
    }
    keep_consensus(tone);
    double sum = 0.0;
    double loudest = 0.0;
    std::uint32_t used = 0;
    for (std::size_t i = 0; i < c.fundamentals.size(); ++i) {
      EXPECT_EQ(tone.passes[i].used, c.used[i]) << c.fundamentals[0] << " pass " << i;
      if (c.used[i]) {
        sum += c.fundamentals[i];
        loudest = std::max(loudest, c.fundamentals[i] * 10.0);
        ++used;
      }
    }
    EXPECT_EQ(tone.totals.pass_count, used);
    EXPECT_DOUBLE_EQ(tone.frequency(), sum / used);
    EXPECT_DOUBLE_EQ(*tone.harmonic(0), sum / used * 10.0);
    EXPECT_DOUBLE_EQ(tone.totals.max_fundamental_amplitude, loudest);
  }
}
