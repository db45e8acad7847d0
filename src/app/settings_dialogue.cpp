#include "app/settings_dialogue.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "app/console_input.h"

namespace toneprint {
namespace {

// How the bounds text of a setting shows its values.
enum class Shown {
  whole,         // minimum, maximum and default, each as an unsigned (%u)
  real,          // minimum, maximum and default, each as a double (%.Nf)
  default_only,  // the default alone, as an unsigned (the FFT-size menu)
};

// What the dialogue prints for one setting: its description, then its bounds
// text with the values filled in from the setting's range.
struct SettingPrompt {
  Setting setting;
  const char* description;
  const char* bounds_format;  // printf format taking the values as `shown` says
  Shown shown;
};

// In the order of setting_bounds, which is the order of the dialogue.
constexpr std::array<SettingPrompt, setting_bounds.size()> prompts = {{
    {Setting::harmonic_count,
     "\nEnter the number of harmonics to measure (0 = measure only fundamental)",
     "\n(Minimum = %u, Maximum = %u, Default = %u): ", Shown::whole},
    {Setting::min_tone_seconds, "\nEnter the minimum tone duration in seconds.",
     "\n(Minimum = %.2f, Maximum = %.1f, Default = %.1f): ", Shown::real},
    {Setting::attack_seconds,
     "\nEnter the length of the note attack in seconds. This length will be skipped",
     "\nat the beginning of each tone. (Minimum = %.0f, Maximum = %.0f, Default = %.1f): ",
     Shown::real},
    {Setting::peak_threshold, "\nEnter the peak detection threshold for pitch detection",
     "\n(Minimum = %u, Maximum = %u, Default = %u): ", Shown::whole},
    {Setting::silence_seconds,
     "\nEnter the length of silence in seconds that will indicate a break between tones",
     "\n(Minimum = %.1f, Maximum = %.1f, Default = %.1f): ", Shown::real},
    {Setting::fft_size,
     "\nSelect the size of the FFT to use for pitch detection."
     "\n  1.  2048"
     "\n  2.  4096"
     "\n  3.  8192"
     "\n  4. 16384",
     "\nEnter a number 1-4 (default = %u): ", Shown::default_only},
    {Setting::fft_hop,
     "\nEnter the number of samples between the two FFT frames for pitch detection",
     "\n(Minimum = %u, Maximum = %u, Default = %u): ", Shown::whole},
    // A real setting, although its bounds are shown as whole numbers.
    {Setting::silence_threshold,
     "\nEnter the silence threshold (the maximum sample value that will be considered",
     "\nsilent) (Minimum: %u, Maximum: %u, Default: %u): ", Shown::whole},
    {Setting::min_cycles, "\nEnter the minimum number of cycles of a frequency to allow",
     "\n(Minimum = %u, Maximum = %u, Default = %u): ", Shown::whole},
    {Setting::max_extra_seconds,
     "\nEnter the maximum extra time for the DFT frame beyond the normal tone duration",
     "\n(Minimum = %.0f, Maximum = %.0f, Default = %.2f): ", Shown::real},
    {Setting::max_cycle_fraction, "\nEnter the maximum fraction of a cycle to allow in a DFT frame",
     "\n(Minimum = %.4f, Maximum = %.0f, Default = %.2f): ", Shown::real},
    {Setting::peak_count,
     "\nEnter the number of peaks to consider when searching for the fundamental",
     "\n(Minimum = %u, Maximum = %u, Default = %u): ", Shown::whole},
}};

constexpr bool prompts_follow_setting_bounds() {
  for (std::size_t i = 0; i < prompts.size(); ++i) {
    if (prompts[i].setting != setting_bounds[i].setting) return false;
  }
  return true;
}
static_assert(prompts_follow_setting_bounds(),
              "each prompt must stand at the index of its setting in setting_bounds");

void print_bounds(Console& console, const SettingPrompt& prompt, const SettingRange& range) {
  switch (prompt.shown) {
    case Shown::whole:
      console.print(prompt.bounds_format, static_cast<unsigned>(range.minimum),
                    static_cast<unsigned>(range.maximum),
                    static_cast<unsigned>(range.default_value));
      return;
    case Shown::real:
      console.print(prompt.bounds_format, range.minimum, range.maximum, range.default_value);
      return;
    case Shown::default_only:
      console.print(prompt.bounds_format, static_cast<unsigned>(range.default_value));
      return;
  }
}

// The FFT-size menu: choice c is fft_sizes[c - 1]. Its maximum is 4.01, not
// 4, so that every typed value up to 4.01 truncates to a choice 1..4.
constexpr double last_fft_choice = 4.01;
static_assert(fft_sizes.size() == 4, "the menu's texts list four sizes");

double fft_choice(std::uint32_t fft_size) {
  const auto found = std::find(fft_sizes.begin(), fft_sizes.end(), fft_size);
  return static_cast<double>(found - fft_sizes.begin() + 1);
}

// The range the dialogue offers: the FFT size as its menu choices.
SettingRange dialogue_range(const SettingBounds& bounds, const AnalysisSettings& settings) {
  const SettingRange range = setting_range(bounds, settings);
  if (bounds.setting != Setting::fft_size) return range;
  return {1.0, last_fft_choice,
          fft_choice(static_cast<std::uint32_t>(range.default_value))};
}

// Asks for the settings at indices [first, end) of setting_bounds, in order.
// Each range is taken from the record as it stands, so the hop's maximum is
// the FFT size chosen just before.
void ask_settings(Console& console, AnalysisSettings& settings, std::size_t first,
                  std::size_t end) {
  for (std::size_t i = first; i < end; ++i) {
    const Setting setting = setting_bounds[i].setting;
    const SettingRange range = dialogue_range(setting_bounds[i], settings);
    console.write(prompts[i].description);
    print_bounds(console, prompts[i], range);
    double value = read_number(console, range.minimum, range.maximum, range.default_value);
    if (setting == Setting::fft_size) value = fft_sizes[static_cast<std::size_t>(value) - 1];
    store_setting(settings, setting, value);
  }
}

}  // namespace

double dialogue_value(const AnalysisSettings& settings, Setting setting) {
  return setting == Setting::fft_size ? fft_choice(settings.fft_size)
                                      : setting_value(settings, setting);
}

void configure_settings(Console& console, AnalysisSettings& settings, std::uint32_t sample_rate) {
  set_default_settings(settings, sample_rate);

  console.write(
      "\nDo you wish to modify the default settings? (Type yes or no then press <Enter>) ");
  if (!ask_yes_no(console)) return;
  console.write(
      "\n\n*** NOTE: For any setting, just press <Enter> to use the default value. ***\n");
  ask_settings(console, settings, 0, basic_setting_count);

  console.write("\nDo you wish to modify the \"advanced\" settings? (yes / no) ");
  if (!ask_yes_no(console)) return;
  ask_settings(console, settings, basic_setting_count, setting_bounds.size());
}

}  // namespace toneprint
