#pragma once

// Every tunable value of the analysis for one run. The record is filled once
// (set_default_settings, then the settings dialogue) and only read after
// that. The defaults stand where the fields are declared; the FFT size and
// the sample rate depend on the recording and are set by
// set_default_settings.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace toneprint {

struct AnalysisSettings {
  std::uint32_t sample_rate = 0;      // samples per second, the recording's
  double min_tone_seconds = 0.3;      // minimum tone duration (DFT frame)
  double max_cycle_fraction = 0.01;   // largest part of a cycle a DFT frame may hold
  std::uint32_t min_cycles = 5;       // fewest cycles of a frequency in a DFT frame
  double max_extra_seconds = 0.04;    // longest extension of a DFT frame
  double silence_threshold = 3200.0;  // largest sample magnitude still silent
  std::uint32_t fft_size = 4096;      // pitch-detection FFT length: 2048..16384
  std::uint32_t fft_hop = 1024;       // samples between the two FFT frames
  double silence_seconds = 0.4;       // silence that separates two tones
  std::uint32_t harmonic_count = 10;  // harmonics above the fundamental
  std::uint32_t peak_threshold = 40;  // peak level, a multiple of the mean magnitude
  double attack_seconds = 0.2;        // note attack skipped at each tone's start
  std::uint32_t peak_count = 5;       // spectral peaks the fundamental search uses
};

// FFT-size menu choice used by default: 3 (8192) above 22050 samples per
// second, otherwise 2 (4096).
std::uint32_t default_fft_choice(std::uint32_t sample_rate);

// 2^(choice + 10): 1 gives 2048, 2 gives 4096, 3 gives 8192, 4 gives 16384.
// Only choices 1 to 4 are meaningful.
std::uint32_t fft_size_for_choice(std::uint32_t choice);

// Sets every field to its default for a recording of this sample rate.
void set_default_settings(AnalysisSettings& settings, std::uint32_t sample_rate);

// The values that the settings dialogue asks for, in the order it asks.
enum class Setting {
  harmonic_count,
  min_tone_seconds,
  attack_seconds,
  peak_threshold,
  silence_seconds,
  fft_choice,  // the FFT-size menu choice, stored as fft_size
  fft_hop,
  silence_threshold,
  min_cycles,
  max_extra_seconds,
  max_cycle_fraction,
  peak_count,
};

// A whole setting stores the accepted value truncated toward zero; a real
// one stores it unchanged.
enum class SettingKind { whole, real };

struct SettingBounds {
  Setting setting;
  SettingKind kind;
  double minimum;  // inclusive
  double maximum;  // inclusive; for fft_hop the fft_size just chosen instead
};

// The first basic_setting_count entries form the basic group of the
// dialogue; the rest are the advanced settings.
inline constexpr std::size_t basic_setting_count = 4;

inline constexpr std::array<SettingBounds, 12> setting_bounds = {{
    {Setting::harmonic_count, SettingKind::whole, 0, 50},
    {Setting::min_tone_seconds, SettingKind::real, 0.05, 30.0},
    {Setting::attack_seconds, SettingKind::real, 0.0, 10.0},
    {Setting::peak_threshold, SettingKind::whole, 1, 150},
    {Setting::silence_seconds, SettingKind::real, 0.1, 10.0},
    // 4.01, not 4: every typed value up to 4.01 truncates to a choice 1..4.
    {Setting::fft_choice, SettingKind::whole, 1, 4.01},
    {Setting::fft_hop, SettingKind::whole, 1, 0},
    {Setting::silence_threshold, SettingKind::real, 1, 10000},
    {Setting::min_cycles, SettingKind::whole, 1, 100},
    {Setting::max_extra_seconds, SettingKind::real, 0.0, 1.0},
    {Setting::max_cycle_fraction, SettingKind::real, 0.0001, 1.0},
    {Setting::peak_count, SettingKind::whole, 1, 20},
}};

// The name that front-ends give each setting (an option --NAME, a
// parameter, a keyword), with a line describing it, in the order of
// setting_bounds.
struct SettingName {
  Setting setting;
  const char* name;
  const char* description;
};

inline constexpr std::array<SettingName, setting_bounds.size()> setting_names = {{
    {Setting::harmonic_count, "harmonics", "Harmonics measured above the fundamental"},
    {Setting::min_tone_seconds, "min-tone", "Shortest measurement frame, seconds"},
    {Setting::attack_seconds, "attack", "Attack skipped at each tone's start, seconds"},
    {Setting::peak_threshold, "peak-threshold",
     "Spectral peak level, a multiple of the mean magnitude"},
    {Setting::silence_seconds, "silence", "Silence that separates two tones, seconds"},
    {Setting::fft_choice, "fft-size",
     "Pitch-detection FFT length: 2048, 4096, 8192 or 16384 (default 8192 above 22050 Hz, "
     "otherwise 4096)"},
    {Setting::fft_hop, "hop", "Samples between the two FFT frames, at most the FFT size"},
    {Setting::silence_threshold, "threshold",
     "Largest sample magnitude still silent, in 16-bit sample units"},
    {Setting::min_cycles, "min-cycles", "Fewest cycles of a frequency in a measurement frame"},
    {Setting::max_extra_seconds, "max-extra", "Longest extension of a measurement frame, seconds"},
    {Setting::max_cycle_fraction, "max-cycle-fraction",
     "Largest part of a cycle a measurement frame may hold beyond whole cycles"},
    {Setting::peak_count, "peaks", "Spectral peaks the fundamental search uses"},
}};

// The bounds and the default that the dialogue offers for one setting, given
// the record as it stands: the default is the record's default for its
// sample rate, and fft_hop's maximum is the record's current fft_size.
struct SettingRange {
  double minimum;
  double maximum;
  double default_value;
};
SettingRange setting_range(const SettingBounds& bounds, const AnalysisSettings& settings);

// The record's value of a setting, as the dialogue asks for it: the FFT
// size as its menu choice.
double setting_value(const AnalysisSettings& settings, Setting setting);

// Stores an accepted value (one within its range) in the record: truncated
// for a whole setting, through fft_size_for_choice for the FFT choice.
void store_setting(AnalysisSettings& settings, Setting setting, double value);

// Values a user gave for some settings, in the order of setting_bounds
// (the FFT size as its menu choice), each within its bounds.
using GivenSettings = std::array<std::optional<double>, setting_bounds.size()>;

// The defaults for a recording of this sample rate with the given values
// stored over them. False when a given hop is longer than the FFT size in
// effect, which settings.fft_size then holds.
bool settings_with(const GivenSettings& given, std::uint32_t sample_rate,
                   AnalysisSettings& settings);

}  // namespace toneprint
