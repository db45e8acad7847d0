#include "analysis/analysis_settings.h"

#include <algorithm>

namespace toneprint {

namespace {

constexpr bool names_follow_bounds() {
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    if (setting_names[i].setting != setting_bounds[i].setting) return false;
  }
  return true;
}
static_assert(names_follow_bounds(), "one name for each setting, in the order of the bounds");

}  // namespace

std::uint32_t default_fft_size(std::uint32_t sample_rate) {
  return sample_rate > 22050 ? 8192 : 4096;
}

bool is_fft_size(double value) {
  return std::find(fft_sizes.begin(), fft_sizes.end(), value) != fft_sizes.end();
}

void set_default_settings(AnalysisSettings& settings, std::uint32_t sample_rate) {
  settings = AnalysisSettings{};
  settings.sample_rate = sample_rate;
  settings.fft_size = default_fft_size(sample_rate);
}

namespace {

const SettingBounds& bounds_of(Setting setting) {
  const auto found =
      std::find_if(setting_bounds.begin(), setting_bounds.end(),
                   [setting](const SettingBounds& b) { return b.setting == setting; });
  // The table names every setting; the first entry only keeps this total.
  return found != setting_bounds.end() ? *found : setting_bounds.front();
}

// A size that pitch detection accepts, whatever the value.
std::uint32_t largest_fft_size_up_to(double value) {
  const auto above = std::find_if(fft_sizes.begin() + 1, fft_sizes.end(),
                                  [value](std::uint32_t size) { return size > value; });
  return *(above - 1);
}

}  // namespace

double setting_value(const AnalysisSettings& s, Setting setting) {
  switch (setting) {
    case Setting::harmonic_count: return s.harmonic_count;
    case Setting::min_tone_seconds: return s.min_tone_seconds;
    case Setting::attack_seconds: return s.attack_seconds;
    case Setting::peak_threshold: return s.peak_threshold;
    case Setting::silence_seconds: return s.silence_seconds;
    case Setting::fft_size: return s.fft_size;
    case Setting::fft_hop: return s.fft_hop;
    case Setting::silence_threshold: return s.silence_threshold;
    case Setting::min_cycles: return s.min_cycles;
    case Setting::max_extra_seconds: return s.max_extra_seconds;
    case Setting::max_cycle_fraction: return s.max_cycle_fraction;
    case Setting::peak_count: return s.peak_count;
  }
  return 0.0;
}

SettingRange setting_range(const SettingBounds& bounds, const AnalysisSettings& settings) {
  AnalysisSettings defaults;
  set_default_settings(defaults, settings.sample_rate);
  const double maximum = bounds.setting == Setting::fft_hop
                             ? std::min(bounds.maximum, static_cast<double>(settings.fft_size))
                             : bounds.maximum;
  return {bounds.minimum, maximum, setting_value(defaults, bounds.setting)};
}

void store_setting(AnalysisSettings& s, Setting setting, double value) {
  // Holding any value to the range keeps the record's invariants and the
  // truncation defined.
  const SettingRange range = setting_range(bounds_of(setting), s);
  value = value >= range.minimum ? std::min(value, range.maximum) : range.minimum;
  const auto whole = static_cast<std::uint32_t>(value);
  switch (setting) {
    case Setting::harmonic_count: s.harmonic_count = whole; break;
    case Setting::min_tone_seconds: s.min_tone_seconds = value; break;
    case Setting::attack_seconds: s.attack_seconds = value; break;
    case Setting::peak_threshold: s.peak_threshold = whole; break;
    case Setting::silence_seconds: s.silence_seconds = value; break;
    case Setting::fft_size: s.fft_size = largest_fft_size_up_to(value); break;
    case Setting::fft_hop: s.fft_hop = whole; break;
    case Setting::silence_threshold: s.silence_threshold = value; break;
    case Setting::min_cycles: s.min_cycles = whole; break;
    case Setting::max_extra_seconds: s.max_extra_seconds = value; break;
    case Setting::max_cycle_fraction: s.max_cycle_fraction = value; break;
    case Setting::peak_count: s.peak_count = whole; break;
  }
}

bool settings_with(const GivenSettings& given, std::uint32_t sample_rate,
                   AnalysisSettings& settings) {
  set_default_settings(settings, sample_rate);
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    if (!given[i]) continue;
    // The hop's bound is the FFT size, stored just before it.
    if (setting_bounds[i].setting == Setting::fft_hop && *given[i] > settings.fft_size) {
      return false;
    }
    store_setting(settings, setting_bounds[i].setting, *given[i]);
  }
  return true;
}

std::uint32_t duration_samples(std::uint32_t sample_rate, double seconds) {
  const double samples = static_cast<double>(sample_rate) * seconds;
  if (!(samples >= 0.0)) return 0;
  if (samples >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(samples);
}

}  // namespace toneprint
