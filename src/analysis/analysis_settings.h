#pragma once

// Every tunable value of the analysis for one run, and the one table of
// their names, bounds and defaults that every front-end reads. The FFT size
// and the sample rate depend on the recording (set_default_settings).

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

// The FFT sizes that pitch detection takes, smallest first.
inline constexpr std::array<std::uint32_t, 4> fft_sizes = {2048, 4096, 8192, 16384};

// 8192 above 22050 samples per second, otherwise 4096.
std::uint32_t default_fft_size(std::uint32_t sample_rate);

// Whether `value` is one of fft_sizes.
bool is_fft_size(double value);

// Sets every field to its default for a recording of this sample rate.
void set_default_settings(AnalysisSettings& settings, std::uint32_t sample_rate);

// The values that the settings dialogue asks for, in the order it asks.
enum class Setting {
  harmonic_count,
  min_tone_seconds,
  attack_seconds,
  peak_threshold,
  silence_seconds,
  fft_size,
  fft_hop,
  silence_threshold,
  min_cycles,
  max_extra_seconds,
  max_cycle_fraction,
  peak_count,
};

// A whole setting stores the accepted value truncated toward zero, a real
// one unchanged. The FFT size is whole and, besides, one of fft_sizes.
enum class SettingKind { whole, real };

struct SettingBounds {
  Setting setting;
  SettingKind kind;
  double minimum;  // inclusive
  double maximum;  // inclusive; the hop is also bounded by the FFT size in effect
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
    {Setting::fft_size, SettingKind::whole, fft_sizes.front(), fft_sizes.back()},
    {Setting::fft_hop, SettingKind::whole, 1, fft_sizes.back()},
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
    {Setting::min_tone_seconds, "min-tone", "Minimum tone duration (the measurement frame), seconds"},
    {Setting::attack_seconds, "attack", "Attack skipped at each tone's start, seconds"},
    {Setting::peak_threshold, "peak-threshold",
     "Spectral peak level, a multiple of the mean magnitude"},
    {Setting::silence_seconds, "silence", "Silence that separates two tones, seconds"},
    {Setting::fft_size, "fft-size",
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

// A setting's bounds and default given the record as it stands: the default
// is the one for the record's sample rate, and the hop's maximum is the
// record's FFT size.
struct SettingRange {
  double minimum;
  double maximum;
  double default_value;
};
SettingRange setting_range(const SettingBounds& bounds, const AnalysisSettings& settings);

// The record's value of a setting.
double setting_value(const AnalysisSettings& settings, Setting setting);

// Stores a value in the record, held to its range: truncated for a whole
// setting, the nearest size not above it for the FFT size.
void store_setting(AnalysisSettings& settings, Setting setting, double value);

// Values a user gave for some settings, in the order of setting_bounds,
// each within its bounds.
using GivenSettings = std::array<std::optional<double>, setting_bounds.size()>;

// The defaults for a recording of this sample rate with the given values
// stored over them. False when a given hop is longer than the FFT size in
// effect, which settings.fft_size then holds.
bool settings_with(const GivenSettings& given, std::uint32_t sample_rate,
                   AnalysisSettings& settings);

// trunc(sample_rate * seconds): a duration as a sample count, held to the
// 32-bit range (0 for a duration that is negative or not a number).
std::uint32_t duration_samples(std::uint32_t sample_rate, double seconds);

}  // namespace toneprint
