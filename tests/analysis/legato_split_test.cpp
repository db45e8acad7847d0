// The robust mode's legato split on synthesised notes: notes joined without
// a silence become a tone each, starting where the pitch changed; a steady
// tone, a vibrato and a brief stray pitch stay one tone.

#include <atomic>
#include <memory>
#include <optional>

#include "analysis/legato_split.h"
#include "analysis/recording_analysis.h"
#include "readers/memory_source.h"
#include "support/test_support.h"

using namespace toneprint;
namespace test = toneprint::test;

namespace {

constexpr std::uint32_t rate = 44100;
constexpr double lead = 0.5;  // seconds of silence before the notes, and after

struct Note {
  double hz;
  double seconds;
};

// The notes one after another with no silence between them, each with the
// same three harmonics and a vibrato of `vibrato_cents` either side at 5.5
// Hz; the phase runs on across each change, as a player's legato would.
std::vector<std::int16_t> legato(const std::vector<Note>& notes, double vibrato_cents) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(lead * rate), 0);
  double phase = 0.0;
  std::size_t n = 0;
  for (const Note& note : notes) {
    const auto count = static_cast<std::size_t>(note.seconds * rate);
    for (std::size_t i = 0; i < count; ++i, ++n) {
      const double t = static_cast<double>(n) / rate;
      const double hz =
          note.hz * std::exp2(vibrato_cents * std::sin(2 * std::numbers::pi * 5.5 * t) / 1200.0);
      phase += 2 * std::numbers::pi * hz / rate;
      const double value =
          8000.0 * std::sin(phase) + 4000.0 * std::sin(2 * phase + 1) + 2000.0 * std::sin(3 * phase + 2);
      samples.push_back(static_cast<std::int16_t>(std::lround(value)));
    }
  }
  samples.resize(samples.size() + static_cast<std::size_t>(lead * rate), 0);
  return samples;
}

RecordingResult analysed(const std::vector<std::int16_t>& samples, const RobustSettings& robust,
                         bool partials) {
  RecordingFormat format;
  format.sample_rate = rate;
  format.channels = 1;
  std::unique_ptr<SampleSource> source = std::make_unique<MemorySource<std::int16_t>>(
      std::span<const std::int16_t>(samples), format, ChannelChoice::mix(), 1.0);
  RecordingResult result;
  set_default_settings(result.settings, rate);
  AnalysisOptions options;
  options.robust = robust;
  options.partials = partials;
  std::atomic<std::uint64_t> read = 0;
  analyse_source(
      source, [](std::string&) { return std::unique_ptr<SampleSource>(); }, options, result,
      read);
  return result;
}

}  // namespace

// Each case: its notes, and the notes the robust mode finds (one, for a
// tone it leaves whole). Without the split every case is one tone.
TEST(LegatoSplit, NotesJoinedWithoutSilenceBecomeATonePerNote) {
  const struct {
    const char* name;
    std::vector<Note> notes;
    double vibrato_cents;
    std::vector<int> found;  // MIDI notes
  } cases[] = {
      {"C4 D4 E4, 0.6 s each", {{261.63, 0.6}, {293.66, 0.6}, {329.63, 0.6}}, 0.0, {60, 62, 64}},
      {"C4 B3, 0.8 s, a semitone down", {{261.63, 0.8}, {246.94, 0.8}}, 0.0, {60, 59}},
      {"A2 E3 A2, 1.2 s", {{110.0, 1.2}, {164.81, 1.2}, {110.0, 1.2}}, 0.0, {45, 52, 45}},
      {"steady A4", {{440.0, 2.0}}, 0.0, {69}},
      {"A4 with a vibrato of 80 cents", {{440.0, 2.0}}, 80.0, {69}},
      {"A4 with 0.15 s of E5 in it", {{440.0, 1.0}, {659.26, 0.15}, {440.0, 1.0}}, 0.0, {69}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::int16_t> samples = legato(c.notes, c.vibrato_cents);
    RobustSettings split;
    split.split_legato = true;
    const RecordingResult plain = analysed(samples, RobustSettings{}, false);
    ASSERT_EQ(plain.tones.size(), 1u);
    if (c.notes.size() > 1 || c.vibrato_cents > 0.0) {
      // The passes disagree, so the pitch was followed, and found to hold
      // at one note or several.
      EXPECT_TRUE(passes_disagree(plain.tones[0]));
    }

    for (const RobustSettings& robust : {split, all_robust_changes()}) {
      const RecordingResult result = analysed(samples, robust, true);
      EXPECT_EQ(result.error, "");
      ASSERT_EQ(result.tones.size(), c.found.size());
      const bool was_split = c.found.size() > 1;
      double change = lead;  // where each note starts, seconds
      for (std::size_t i = 0; i < c.found.size(); ++i) {
        const ToneRecord& tone = result.tones[i];
        EXPECT_EQ(tone.split_from, was_split ? std::optional<std::size_t>(1) : std::nullopt);
        ASSERT_TRUE(tone.measured()) << i;
        if (!was_split && !robust.consensus) continue;  // the stray pitch is in the means
        // Its numbers come from its own passes: its frequency, its passes'
        // mean and its partials' first all sit on its note.
        const NearestNote note = nearest_note(tone.frequency(), 440.0);
        EXPECT_EQ(note.midi, c.found[i]) << i;
        if (c.vibrato_cents == 0.0) {
          EXPECT_NEAR(note.cents, 0.0, 1.0) << i;
          EXPECT_LT(tone.spread_cents(), 1.0) << i;
          EXPECT_NEAR(test::cents(tone.totals.frequency_sum / tone.totals.pass_count,
                                  c.notes[i].hz), 0.0, 1.0) << i;
          ASSERT_TRUE(tone.partials.has_value()) << i;
        }
        if (was_split) {
          EXPECT_NEAR(result.seconds(tone.start), change, 0.05) << i;
          change += c.notes[i].seconds;
        }
      }
    }
  }
}
