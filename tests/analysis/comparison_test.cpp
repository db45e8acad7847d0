#include "analysis/comparison.h"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace toneprint;

namespace {

constexpr std::optional<double> none = std::nullopt;
// 20 log10(2): half the amplitude is this many dB lower.
const double half_db = 20.0 * std::log10(2.0);

// The amplitude whose level is `dbfs` dB of full scale.
double at_dbfs(double dbfs) { return 32768.0 * std::pow(10.0, dbfs / 20.0); }

ComparedTone tone(int note, std::vector<std::optional<double>> amplitudes) {
  ComparedTone t;
  t.note = note;
  t.frequency_hz = 440.0 * std::pow(2.0, (note - 69) / 12.0);
  t.amplitudes = std::move(amplitudes);
  return t;
}

// A small rank: A_1 at -20 dBFS, a harmonic 6 dB below it, one lying above
// the Nyquist limit.
std::vector<ComparedTone> rank() {
  return {tone(60, {at_dbfs(-20), at_dbfs(-26), none}),
          tone(64, {at_dbfs(-30), at_dbfs(-33), at_dbfs(-40)})};
}

std::vector<ComparedTone> scaled(std::vector<ComparedTone> tones, double factor) {
  for (ComparedTone& t : tones) {
    for (std::optional<double>& a : t.amplitudes) {
      if (a) *a *= factor;
    }
  }
  return tones;
}

}  // namespace

// Differences from the reference, per matched note and harmonic, worked out
// from the amplitudes: the same tones give 0; half the amplitude gives
// -20 log10(2) dB in the fundamental's absolute level and 0 in the
// relative levels; a harmonic not measured gives no difference.
TEST(Comparison, DifferencesFromTheReferenceMatchHandComputedValues) {
  const struct {
    const char* what;
    std::vector<ComparedTone> other;
    std::vector<std::vector<std::optional<double>>> note_60, note_64;  // per set
  } cases[] = {
      {"a set against itself", rank(), {{0, 0, none}, {0, 0, none}},
       {{0, 0, 0}, {0, 0, 0}}},
      {"a copy at half amplitude", scaled(rank(), 0.5), {{0, 0, none}, {-half_db, 0, none}},
       {{0, 0, 0}, {-half_db, 0, 0}}},
      // Harmonic 2 of C4 3 dB stronger relative to its fundamental, the
      // fundamental itself 1 dB louder; E4's harmonic 3 not measured.
      {"a changed voicing",
       {tone(60, {at_dbfs(-19), at_dbfs(-22), none}),
        tone(64, {at_dbfs(-30), at_dbfs(-33), none})},
       {{0, 0, none}, {1, 3, none}},
       {{0, 0, 0}, {0, 0, none}}},
  };
  for (const auto& c : cases) {
    const Comparison comparison = compare_sets({{"before", rank()}, {"after", c.other}});
    ASSERT_EQ(comparison.matched.size(), 2u) << c.what;
    EXPECT_TRUE(comparison.unmatched.empty()) << c.what;
    EXPECT_EQ(comparison.harmonics, 3u) << c.what;
    for (const auto& [index, expected] :
         {std::pair{0, &c.note_60}, std::pair{1, &c.note_64}}) {
      const ComparedNote& note = comparison.matched[static_cast<std::size_t>(index)];
      EXPECT_EQ(note.note, index == 0 ? 60 : 64) << c.what;
      ASSERT_EQ(note.difference_db.size(), 2u) << c.what;
      for (std::size_t s = 0; s < 2; ++s) {
        const std::vector<std::optional<double>>& got = note.difference_db[s];
        const std::vector<std::optional<double>>& want = (*expected)[s];
        ASSERT_EQ(got.size(), want.size()) << c.what << " set " << s;
        for (std::size_t k = 0; k < want.size(); ++k) {
          ASSERT_EQ(got[k].has_value(), want[k].has_value())
              << c.what << " set " << s << " harmonic " << k + 1;
          if (want[k]) {
            EXPECT_NEAR(*got[k], *want[k], 1e-9) << c.what << " harmonic " << k + 1;
          }
        }
      }
    }
  }
}

// A note measured twice: means and population standard deviations over the
// levels in dB, a harmonic that one tone does not have (read as the
// rounding of the measurement's sums) left out of its mean.
TEST(Comparison, ANoteMeasuredTwiceIsItsMeanWithItsSpread) {
  ComparedTone first = tone(57, {at_dbfs(-10), at_dbfs(-22), 1.7e-11});
  ComparedTone second = tone(57, {at_dbfs(-20), at_dbfs(-28), at_dbfs(-38)});
  first.deviation_cents = 4.0;
  second.deviation_cents = -2.0;
  first.descriptors = TimbreDescriptors{3, 1.5, 330.0, std::nullopt, 0.5, 0.3, 0.2, -6.0};
  const Comparison comparison = compare_sets({{"one", {first, second}}});
  ASSERT_EQ(comparison.unmatched.size(), 1u);  // one set: nothing to match
  ASSERT_TRUE(comparison.unmatched[0].sets[0].has_value());
  const SetNote& note = *comparison.unmatched[0].sets[0];
  EXPECT_EQ(note.tones, 2u);
  const struct {
    const char* what;
    std::optional<Spread> got;
    double mean, spread;
    std::size_t count;
  } rows[] = {
      {"fundamental dBFS", note.level_dbfs[0], -15.0, 5.0, 2},
      {"harmonic 2 dBFS", note.level_dbfs[1], -25.0, 3.0, 2},
      {"harmonic 3 dBFS", note.level_dbfs[2], -38.0, 0.0, 1},
      {"fundamental relative", note.relative_db[0], 0.0, 0.0, 2},
      {"harmonic 2 relative", note.relative_db[1], -10.0, 2.0, 2},
      {"harmonic 3 relative", note.relative_db[2], -18.0, 0.0, 1},
      {"deviation", note.deviation_cents, 1.0, 3.0, 2},
      {"centroid", note.centroid_harmonic, 1.5, 0.0, 1},
      {"set's harmonic 2", comparison.sets[0].relative_db[1], -10.0, 2.0, 2},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(row.got.has_value()) << row.what;
    EXPECT_NEAR(row.got->mean, row.mean, 1e-9) << row.what;
    EXPECT_NEAR(row.got->spread, row.spread, 1e-9) << row.what;
    EXPECT_EQ(row.got->count, row.count) << row.what;
  }
  EXPECT_FALSE(note.odd_even_db.has_value());
  EXPECT_EQ(comparison.sets[0].tones, 2u);
  EXPECT_EQ(comparison.sets[0].notes, 1u);
}

// Notes matched only where the reference and another set have them; every
// other note listed, with the sets that had it, and without differences.
TEST(Comparison, NotesNotInTheReferenceAndAnotherSetAreListedUnmatched) {
  const std::vector<ComparisonSet> sets = {
      {"reference", {tone(60, {1000.0}), tone(62, {1000.0})}},
      {"second", {tone(60, {1000.0}), tone(64, {1000.0})}},
      {"third", {tone(64, {1000.0}), tone(65, {1000.0})}},
  };
  const Comparison comparison = compare_sets(sets);
  // Each note with the sets that had it; a matched note's differences are
  // there for the sets that had it, an unmatched note's for none.
  const auto listed = [](const std::vector<ComparedNote>& notes, bool matched) {
    std::vector<std::pair<int, std::vector<bool>>> result;
    for (const ComparedNote& note : notes) {
      std::vector<bool> having;
      for (std::size_t s = 0; s < note.sets.size(); ++s) {
        having.push_back(note.sets[s].has_value());
        for (const std::optional<double>& value : note.difference_db[s]) {
          EXPECT_EQ(value.has_value(), matched) << note.note << " set " << s;
        }
        EXPECT_EQ(note.difference_db[s].empty(), !note.sets[s]) << note.note << " set " << s;
      }
      result.emplace_back(note.note, having);
    }
    return result;
  };
  using Listed = std::vector<std::pair<int, std::vector<bool>>>;
  EXPECT_EQ(listed(comparison.matched, true), (Listed{{60, {true, true, false}}}));
  EXPECT_EQ(listed(comparison.unmatched, false),
            (Listed{{62, {true, false, false}}, {64, {false, true, true}}, {65, {false, false, true}}}));
  EXPECT_EQ(comparison.sets[2].notes, 2u);
}

// Trend lines over a rank whose fundamental falls exactly 6 dB an octave
// and whose harmonic 2 lies 10 dB lower still: the fitted lines are those.
TEST(Comparison, TrendLinesFitAnExactlyLinearRank) {
  std::vector<ComparedTone> tones;
  for (int note : {48, 55, 60, 72}) {
    const double dbfs = -20.0 - 6.0 * (note - 48) / 12.0;
    tones.push_back(tone(note, {at_dbfs(dbfs), at_dbfs(dbfs - 10.0)}));
  }
  tones.push_back(tone(84, {at_dbfs(-38.0)}));  // harmonic 2 not measured
  // Eight harmonics in a set of one note: the trends follow the first six.
  const std::vector<std::optional<double>> eight(8, 1.0);
  const Comparison comparison = compare_sets({{"rank", tones}, {"single", {tone(60, eight)}}});
  const std::vector<std::optional<TrendLine>>& trends = comparison.sets[0].trends;
  ASSERT_EQ(trends.size(), trend_harmonics);
  const struct {
    std::size_t k;
    double at_48, slope;
    std::size_t notes;
  } lines[] = {{1, -20.0, -6.0, 5}, {2, -30.0, -6.0, 4}};
  for (const auto& line : lines) {
    ASSERT_TRUE(trends[line.k - 1].has_value()) << line.k;
    EXPECT_NEAR(trends[line.k - 1]->slope_db_per_octave, line.slope, 1e-9) << line.k;
    EXPECT_NEAR(trends[line.k - 1]->at(48), line.at_48, 1e-9) << line.k;
    EXPECT_EQ(trends[line.k - 1]->notes, line.notes) << line.k;
  }
  EXPECT_FALSE(trends[2].has_value());  // no harmonic 3
  // One note: no line.
  ASSERT_EQ(comparison.sets[1].trends.size(), trend_harmonics);
  EXPECT_FALSE(comparison.sets[1].trends[0].has_value());
}

// A run's tones: matched by the expected note where one was given, else by
// the nearest; a tone not measured left out.
TEST(Comparison, ARunsTonesAreMatchedByExpectedOrNearestNote) {
  RecordingResult result;
  result.path = "rank.wav";
  result.format.sample_rate = 44100;
  const auto measured = [](double f0, std::vector<double> amplitudes) {
    ToneRecord t;
    t.totals.reset(static_cast<std::uint32_t>(amplitudes.size() - 1));  // overtones
    t.totals.add_pass(f0, amplitudes);
    return t;
  };
  result.tones.push_back(measured(445.0, {1000.0, 500.0}));       // nearest A4, +19.56 cents
  result.tones.push_back(ToneRecord{});                           // not measured
  result.tones.push_back(measured(440.0, {2000.0, -1.0}));        // expected A#4: -100 cents
  result.tones.back().expected = MidiNote{70, 0.0};
  const std::vector<ComparedTone> tones = compared_tones(result, Tuning{}, false);
  ASSERT_EQ(tones.size(), 2u);
  const struct {
    std::size_t tone;
    int note;
    bool expected;
    double cents;
    std::vector<std::optional<double>> amplitudes;
  } want[] = {{1, 69, false, 1200.0 * std::log2(445.0 / 440.0), {1000.0, 500.0}},
              {3, 70, true, -100.0, {2000.0, none}}};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(tones[i].file, "rank.wav");
    EXPECT_EQ(tones[i].tone, want[i].tone);
    EXPECT_EQ(tones[i].note, want[i].note);
    EXPECT_EQ(tones[i].expected, want[i].expected);
    ASSERT_TRUE(tones[i].deviation_cents.has_value());
    EXPECT_NEAR(*tones[i].deviation_cents, want[i].cents, 1e-9);
    EXPECT_EQ(tones[i].amplitudes, want[i].amplitudes);
    EXPECT_TRUE(tones[i].descriptors.has_value());
  }
}
