#include "app/settings_dialogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>

using namespace toneprint;

// What the user sees, written out by hand, with the values of a 44100 Hz
// recording.
static const std::string first_question =
    "\nDo you wish to modify the default settings? (Type yes or no then press <Enter>) ";
static const std::string basic_prompts =
    "\n\n*** NOTE: For any setting, just press <Enter> to use the default value. ***\n"
    "\nEnter the number of harmonics to measure (0 = measure only fundamental)"
    "\n(Minimum = 0, Maximum = 50, Default = 10): "
    "\nEnter the minimum tone duration in seconds."
    "\n(Minimum = 0.05, Maximum = 30.0, Default = 0.3): "
    "\nEnter the length of the note attack in seconds. This length will be skipped"
    "\nat the beginning of each tone. (Minimum = 0, Maximum = 10, Default = 0.2): "
    "\nEnter the peak detection threshold for pitch detection"
    "\n(Minimum = 1, Maximum = 150, Default = 40): "
    "\nDo you wish to modify the \"advanced\" settings? (yes / no) ";
// After FFT-size choice 1, so the hop's maximum is 2048.
static const std::string advanced_prompts =
    "\nEnter the length of silence in seconds that will indicate a break between tones"
    "\n(Minimum = 0.1, Maximum = 10.0, Default = 0.4): "
    "\nSelect the size of the FFT to use for pitch detection."
    "\n  1.  2048\n  2.  4096\n  3.  8192\n  4. 16384"
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

// The settings in the order they are asked for, the FFT size as its choice.
static std::string fields(const AnalysisSettings& s) {
  std::ostringstream out;
  for (const SettingBounds& b : setting_bounds)
    out << (&b == setting_bounds.data() ? "" : " ") << dialogue_value(s, b.setting);
  return out.str();
}

// The row that answers every setting: 50.5 harmonics is refused, then 49.9;
// "abc" as the attack is 0, within its bounds; FFT-size choices 5 and 0 are
// refused, and then a hop of 4096, above the 2048 just chosen; "abc" peaks is
// 0, refused. The rows below it answer the FFT-size choice, whose default is 2
// up to 22050 Hz and 3 above, and the hop; what they show is not looked at.
TEST(SettingsDialogue, AsksEachSettingAndStoresEachAnswerTruncatedIfWhole) {
  const std::string basic = first_question + basic_prompts, all = basic + advanced_prompts;
  const std::string defaults = "10 0.3 0.2 40 0.4 3 1024 3200 5 0.04 0.01 5";
  const std::string to_fft = "yes\n\n\n\n\nyes\n\n";
  // clang-format off
  // rate, typed, what the user sees, the settings afterwards
  const std::tuple<std::uint32_t, std::string, std::string, std::string> cases[] = {
      {44100, "no\n", first_question, defaults}, {44100, "", first_question, defaults},
      {44100, "yes\n\n \n\t\n\r\n no\n", basic, defaults},
      {44100, "yes\nabc\n", basic, "0 0.3 0.2 40 0.4 3 1024 3200 5 0.04 0.01 5"},
      {44100, to_fft + "1\n\n\n\n\n1\n", all, "10 0.3 0.2 40 0.4 1 1024 3200 5 0.04 1 5"},
      {44100, "yes\n50.5\n49.9\n1.25\nabc\n2.9\nYes\n0.5\n5\n0\n1\n4096\n2048\n1.5\n1e1\n0.125\n"
              "0.5\nabc\n 7\n", all, "49 1.25 0 2 0.5 1 2048 1.5 10 0.125 0.5 7"},
      {22050, to_fft, "", "10 0.3 0.2 40 0.4 2 1024 3200 5 0.04 0.01 5"},
      {22051, to_fft, "", "10 0.3 0.2 40 0.4 3 1024 3200 5 0.04 0.01 5"},
      {44100, to_fft + "2.5\n", "", "10 0.3 0.2 40 0.4 2 1024 3200 5 0.04 0.01 5"},
      {8000, to_fft + "4.01\n", "", "10 0.3 0.2 40 0.4 4 1024 3200 5 0.04 0.01 5"},
      {8000, to_fft + "1\n2048\n", "", "10 0.3 0.2 40 0.4 1 2048 3200 5 0.04 0.01 5"}};
  // clang-format on
  for (const auto& [rate, typed, output, record] : cases) {
    SCOPED_TRACE(std::to_string(rate) + " Hz, " + testing::PrintToString(typed));
    ScriptedConsole console(typed);
    AnalysisSettings settings;
    settings.peak_count = 17;  // whatever the record held does not survive
    configure_settings(console, settings, rate);
    EXPECT_TRUE(output.empty() || console.output() == output) << console.output();
    EXPECT_EQ(fields(settings), record);
    EXPECT_EQ(settings.sample_rate, rate);
  }
}

// The other front-ends label --min-tone in the dialogue's words, so that a
// user of both reads one meaning for it.
TEST(SettingsDialogue, OtherFrontEndsNameTheMinimumToneAsItDoes) {
  const std::string words = "minimum tone duration";
  ASSERT_NE(basic_prompts.find("Enter the " + words + " in seconds."), std::string::npos);
  const auto named = std::find_if(setting_names.begin(), setting_names.end(),
      [](const SettingName& n) { return n.setting == Setting::min_tone_seconds; });
  ASSERT_NE(named, setting_names.end());
  std::string label = named->description;
  std::transform(label.begin(), label.end(), label.begin(),
      [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  EXPECT_EQ(label.rfind(words, 0), 0U) << named->description;
}
