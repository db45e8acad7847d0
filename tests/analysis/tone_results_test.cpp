#include "analysis/tone_results.h"

#include "analysis/tone_analysis.h"
#include "support/test_support.h"

using namespace toneprint;
namespace test = toneprint::test;

TEST(NearestNote, NamesTheNearestNoteWithSharpsAndTheCentsFromIt) {
  const struct {
    double frequency, a4;
    const char* name;
    int midi;
    double cents;
  } cases[] = {
      {440.0, 440, "A4", 69, 0.0},
      {261.6255653, 440, "C4", 60, 0.0},
      {277.1826310, 440, "C#4", 61, 0.0},
      {4186.009045, 440, "C8", 108, 0.0},
      {8.1757989156, 440, "C-1", 0, 0.0},
      {7.7169265821, 440, "B-2", -1, 0.0},
      {440 * std::pow(2.0, 49.9 / 1200), 440, "A4", 69, 49.9},
      {440 * std::pow(2.0, 50.1 / 1200), 440, "A#4", 70, -49.9},
      {440 * std::pow(2.0, -49.9 / 1200), 440, "A4", 69, -49.9},
      {440.0, 415, "A#4", 70, 1.2706247},
      {864.8821267, 415, "A#5", 82, -28.7293753},
  };
  for (const auto& c : cases) {
    const NearestNote note = nearest_note(c.frequency, c.a4);
    EXPECT_EQ(note.name, c.name) << c.frequency;
    EXPECT_EQ(note.midi, c.midi) << c.frequency;
    EXPECT_NEAR(note.cents, c.cents, 0.001) << c.frequency;
  }
}

// Off-pitch tones placed between silences come out where they were put
// (within a millisecond), named after their nearest note with the cents
// they were detuned by.
TEST(ToneCollector, GivesEachToneItsTimesNoteAndCents) {
  constexpr std::uint32_t rate = 44100;
  const struct {
    double at, seconds, fundamental;
    const char* note;
    double cents;
  } tones[] = {
      {0.3, 1.2, 659.2551 * std::pow(2.0, 12 / 1200.0), "E5", 12.0},
      {2.1, 1.0, 880.0 * std::pow(2.0, -30 / 1200.0), "A5", -30.0},
      {3.7, 0.8, 1046.5023 * std::pow(2.0, 45 / 1200.0), "C6", 45.0},
  };
  std::vector<double> samples(static_cast<std::size_t>(5.0 * rate), 0.0);
  for (const auto& t : tones) {
    const test::ToneRecipe recipe{t.fundamental, {{1, 10000, 0.0}, {3, 2000, 1.0}}};
    const std::vector<double> tone =
        test::synthesise(recipe, rate, static_cast<std::size_t>(t.seconds * rate));
    std::copy(tone.begin(), tone.end(), samples.begin() + static_cast<std::ptrdiff_t>(t.at * rate));
  }
  test::VectorSource source(samples, rate);
  AnalysisSettings settings;
  set_default_settings(settings, rate);
  ToneCollector collector;
  analyse_tones(source, settings, collector);

  ASSERT_EQ(collector.tones().size(), std::size(tones));
  for (std::size_t i = 0; i < std::size(tones); ++i) {
    const ToneRecord& got = collector.tones()[i];
    EXPECT_NEAR(static_cast<double>(got.start) / rate, tones[i].at, 0.001) << i;
    EXPECT_NEAR(static_cast<double>(got.end) / rate, tones[i].at + tones[i].seconds, 0.001) << i;
    ASSERT_TRUE(got.measured()) << i;
    EXPECT_EQ(got.passes.size(), got.totals.pass_count) << i;
    const NearestNote note = nearest_note(got.frequency(), 440.0);
    EXPECT_EQ(note.name, tones[i].note) << i;
    EXPECT_NEAR(note.cents, tones[i].cents, 0.01) << i;
    EXPECT_LT(got.spread_cents(), 0.01) << i;
    EXPECT_NEAR(*got.harmonic(2), 2000, 2) << i;
  }
}
