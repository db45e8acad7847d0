#include "app/settings_dialogue.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/console_input.h"

namespace toneprint {
namespace {

// What the user sees, written out by hand from the texts the dialogue must
// print, with the values of a 44100 Hz recording.
const std::string first_question =
    "\nDo you wish to modify the default settings? (Type yes or no then press <Enter>) ";
const std::string note =
    "\n\n*** NOTE: For any setting, just press <Enter> to use the default value. ***\n";
const std::string basic_prompts =
    "\nEnter the number of harmonics to measure (0 = measure only fundamental)"
    "\n(Minimum = 0, Maximum = 50, Default = 10): "
    "\nEnter the minimum tone duration in seconds."
    "\n(Minimum = 0.05, Maximum = 30.0, Default = 0.3): "
    "\nEnter the length of the note attack in seconds. This length will be skipped"
    "\nat the beginning of each tone. (Minimum = 0, Maximum = 10, Default = 0.2): "
    "\nEnter the peak detection threshold for pitch detection"
    "\n(Minimum = 1, Maximum = 150, Default = 40): ";
const std::string advanced_question =
    "\nDo you wish to modify the \"advanced\" settings? (yes / no) ";
// After FFT-size choice 1, so the hop's maximum is 2048.
const std::string advanced_prompts =
    "\nEnter the length of silence in seconds that will indicate a break between tones"
    "\n(Minimum = 0.1, Maximum = 10.0, Default = 0.4): "
    "\nSelect the size of the FFT to use for pitch detection."
    "\n  1.  2048"
    "\n  2.  4096"
    "\n  3.  8192"
    "\n  4. 16384"
    "\nEnter a number 1-4 (default = 3): "
    "\nEnter the number of samples between the two FFT frames for pitch detection"
    "\n(Minimum = 1, Maximum = 2048, Default = 1024): "
    "\nEnter the silence threshold (the maximum sample value that will be considered"
    "\nsilent) (Minimum: 1, Maximum: 10000, Default: 3200): "
    "\nEnter the minimum number of cycles of a frequency to allow"
    "\n(Minimum = 1, Maximum = 100, Default = 5): "
    "\nEnter the maximum extra time for the DFT frame beyond the normal tone duration"
    "\n(Minimum = 0, Maximum = 1, Default = 0.04): "
    "\nEnter the maximum fraction of a cycle to allow in a DFT frame"
    "\n(Minimum = 0.0001, Maximum = 1, Default = 0.01): "
    "\nEnter the number of peaks to consider when searching for the fundamental"
    "\n(Minimum = 1, Maximum = 20, Default = 5): ";

// Answers that reach the advanced group keeping the basic defaults.
const std::string to_advanced = "yes\n\n\n\n\nyes\n";

// The fields in which the record differs from the defaults for its rate,
// listed as "name=value"; empty when it holds exactly the defaults.
std::string changed_from_defaults(const AnalysisSettings& s) {
  AnalysisSettings d;
  set_default_settings(d, s.sample_rate);
  std::ostringstream changed;
  const auto compare = [&](const char* name, double value, double default_value) {
    if (value != default_value) changed << name << '=' << value << ' ';
  };
  compare("harmonic_count", s.harmonic_count, d.harmonic_count);
  compare("min_tone_seconds", s.min_tone_seconds, d.min_tone_seconds);
  compare("attack_seconds", s.attack_seconds, d.attack_seconds);
  compare("peak_threshold", s.peak_threshold, d.peak_threshold);
  compare("silence_seconds", s.silence_seconds, d.silence_seconds);
  compare("fft_size", s.fft_size, d.fft_size);
  compare("fft_hop", s.fft_hop, d.fft_hop);
  compare("silence_threshold", s.silence_threshold, d.silence_threshold);
  compare("min_cycles", s.min_cycles, d.min_cycles);
  compare("max_extra_seconds", s.max_extra_seconds, d.max_extra_seconds);
  compare("max_cycle_fraction", s.max_cycle_fraction, d.max_cycle_fraction);
  compare("peak_count", s.peak_count, d.peak_count);
  return changed.str();
}

TEST(SettingsDialogue, NoOrTheEndOfInputKeepsTheRemainingDefaults) {
  const struct {
    std::string typed;
    std::string output;
    std::string changed;
  } cases[] = {
      {"no\n", first_question, ""},
      {"yes\n\n \n\t\n\n no\n", first_question + note + basic_prompts + advanced_question, ""},
      // A closed input, or one that ends early, is answered with the defaults.
      {"", first_question, ""},
      {"yes\nabc\n", first_question + note + basic_prompts + advanced_question,
       "harmonic_count=0 "},
      {to_advanced + "0.25\n1\n\n\n\n\n1\n",
       first_question + note + basic_prompts + advanced_question + advanced_prompts,
       "silence_seconds=0.25 fft_size=2048 max_cycle_fraction=1 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.typed));
    ScriptedConsole console(c.typed);
    AnalysisSettings settings;
    settings.peak_count = 17;  // whatever the record held must not survive
    configure_settings(console, settings, 44100);
    EXPECT_EQ(console.output(), c.output);
    EXPECT_EQ(settings.sample_rate, 44100u);
    EXPECT_EQ(changed_from_defaults(settings), c.changed);
  }
}

TEST(SettingsDialogue, EveryAnswerIsStoredTruncatedOrAsTyped) {
  ScriptedConsole console(
      "yes\n"
      "50.5\n49.9\n"  // harmonic_count: 50.5 refused
      "1.25\n"        // min_tone_seconds
      "abc\n"         // attack_seconds: no number is 0, which is within bounds
      "2.9\n"         // peak_threshold
      "Yes\n"
      "0.5\n"         // silence_seconds
      "5\n0\n1\n"     // FFT-size choice: 5 and 0 refused
      "4096\n2048\n"  // fft_hop: at most the 2048 just chosen
      "1.5\n"         // silence_threshold
      "1e1\n"         // min_cycles
      "0.125\n"       // max_extra_seconds
      "0.5\n"         // max_cycle_fraction
      "abc\n   7\n"   // peak_count: no number is 0, which is refused
      "after\n");
  AnalysisSettings settings;
  configure_settings(console, settings, 44100);

  EXPECT_EQ(console.output(),
            first_question + note + basic_prompts + advanced_question + advanced_prompts);
  char rest[16];
  EXPECT_STREQ(read_input_line(console, rest, sizeof rest), "after");

  EXPECT_EQ(settings.sample_rate, 44100u);
  EXPECT_EQ(settings.harmonic_count, 49u);
  EXPECT_EQ(settings.min_tone_seconds, 1.25);
  EXPECT_EQ(settings.attack_seconds, 0.0);
  EXPECT_EQ(settings.peak_threshold, 2u);
  EXPECT_EQ(settings.silence_seconds, 0.5);
  EXPECT_EQ(settings.fft_size, 2048u);
  EXPECT_EQ(settings.fft_hop, 2048u);
  EXPECT_EQ(settings.silence_threshold, 1.5);
  EXPECT_EQ(settings.min_cycles, 10u);
  EXPECT_EQ(settings.max_extra_seconds, 0.125);
  EXPECT_EQ(settings.max_cycle_fraction, 0.5);
  EXPECT_EQ(settings.peak_count, 7u);
}

TEST(SettingsDialogue, FftChoiceDefaultsByRateIsTruncatedAndBoundsTheHop) {
  const struct {
    std::uint32_t sample_rate;
    std::string typed;  // the answers for the FFT-size choice and the hop
    std::uint32_t fft_size, fft_hop;
  } cases[] = {
      {22050, "\n", 4096, 1024},
      {22051, "\n", 8192, 1024},
      {44100, "2.5\n", 4096, 1024},
      {8000, "4.01\n", 16384, 1024},
      {44100, "5\n0\n1\n4096\n2048\n", 2048, 2048},
      {44100, "1\n\n", 2048, 1024},
      {44100, "1\n4096\n", 2048, 1024},  // the input ends before an accepted hop
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.sample_rate) + " Hz, " + ::testing::PrintToString(c.typed));
    ScriptedConsole console(to_advanced + "\n" + c.typed);
    AnalysisSettings settings;
    configure_settings(console, settings, c.sample_rate);
    EXPECT_EQ(settings.fft_size, c.fft_size);
    EXPECT_EQ(settings.fft_hop, c.fft_hop);
    const std::string default_choice = c.sample_rate > 22050 ? "3" : "2";
    EXPECT_NE(console.output().find("\nEnter a number 1-4 (default = " + default_choice + "): "),
              std::string::npos);
  }
}

}  // namespace
}  // namespace toneprint
