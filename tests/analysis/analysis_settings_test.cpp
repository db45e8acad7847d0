#include "analysis/analysis_settings.h"

#include <gtest/gtest.h>

namespace toneprint {
namespace {

const SettingBounds& bounds(Setting setting) {
  for (const SettingBounds& b : setting_bounds) {
    if (b.setting == setting) return b;
  }
  ADD_FAILURE() << "setting missing from the bounds table";
  return setting_bounds.front();
}

bool accepts(const SettingRange& range, double typed) {
  return range.minimum <= typed && typed <= range.maximum;
}

TEST(AnalysisSettings, FftSizeDefaultFollowsTheSampleRate) {
  AnalysisSettings settings;
  set_default_settings(settings, 22050);
  EXPECT_EQ(settings.fft_size, 4096u);
  set_default_settings(settings, 22051);
  EXPECT_EQ(settings.fft_size, 8192u);
  set_default_settings(settings, 8000);
  EXPECT_EQ(settings.fft_size, 4096u);
  set_default_settings(settings, 96000);
  EXPECT_EQ(settings.fft_size, 8192u);
  EXPECT_EQ(settings.sample_rate, 96000u);
  EXPECT_EQ(default_fft_choice(22050), 2u);
  EXPECT_EQ(default_fft_choice(22051), 3u);

  EXPECT_EQ(fft_size_for_choice(1), 2048u);
  EXPECT_EQ(fft_size_for_choice(2), 4096u);
  EXPECT_EQ(fft_size_for_choice(3), 8192u);
  EXPECT_EQ(fft_size_for_choice(4), 16384u);
}

TEST(AnalysisSettings, DefaultsReplaceWhateverTheRecordHeld) {
  AnalysisSettings settings;
  settings.harmonic_count = 50;
  settings.silence_threshold = 1.5;
  settings.fft_hop = 7;
  set_default_settings(settings, 44100);
  EXPECT_EQ(settings.harmonic_count, 10u);
  EXPECT_EQ(settings.min_tone_seconds, 0.3);
  EXPECT_EQ(settings.attack_seconds, 0.2);
  EXPECT_EQ(settings.fft_hop, 1024u);
  EXPECT_EQ(settings.silence_seconds, 0.4);
  EXPECT_EQ(settings.peak_threshold, 40u);
  EXPECT_EQ(settings.silence_threshold, 3200.0);
  EXPECT_EQ(settings.min_cycles, 5u);
  EXPECT_EQ(settings.max_extra_seconds, 0.04);
  EXPECT_EQ(settings.max_cycle_fraction, 0.01);
  EXPECT_EQ(settings.peak_count, 5u);
}

TEST(AnalysisSettings, EveryDefaultLiesWithinItsBounds) {
  for (const std::uint32_t rate : {8000u, 22050u, 44100u, 96000u}) {
    AnalysisSettings settings;
    set_default_settings(settings, rate);
    for (const SettingBounds& b : setting_bounds) {
      const SettingRange range = setting_range(b, settings);
      EXPECT_TRUE(accepts(range, range.default_value))
          << "setting " << static_cast<int>(b.setting) << " at " << rate << " Hz";
    }
  }
}

TEST(AnalysisSettings, WholeSettingsAreTruncatedAndRealOnesKept) {
  AnalysisSettings settings;
  set_default_settings(settings, 44100);
  const SettingRange harmonics = setting_range(bounds(Setting::harmonic_count), settings);
  EXPECT_FALSE(accepts(harmonics, 50.5));
  EXPECT_TRUE(accepts(harmonics, 49.9));
  store_setting(settings, Setting::harmonic_count, 49.9);
  EXPECT_EQ(settings.harmonic_count, 49u);

  store_setting(settings, Setting::silence_threshold, 1.5);
  EXPECT_EQ(settings.silence_threshold, 1.5);
  store_setting(settings, Setting::min_cycles, 2.9);
  EXPECT_EQ(settings.min_cycles, 2u);
}

TEST(AnalysisSettings, FftChoiceUpToFourPointZeroOneAndTheHopThatFollows) {
  AnalysisSettings settings;
  set_default_settings(settings, 8000);
  const SettingRange choice = setting_range(bounds(Setting::fft_choice), settings);
  EXPECT_EQ(choice.default_value, 2.0);
  EXPECT_TRUE(accepts(choice, 4.01));
  EXPECT_FALSE(accepts(choice, 4.02));
  EXPECT_FALSE(accepts(choice, 0.0));

  store_setting(settings, Setting::fft_choice, 4.005);
  EXPECT_EQ(settings.fft_size, 16384u);
  store_setting(settings, Setting::fft_choice, 3.99);
  EXPECT_EQ(settings.fft_size, 8192u);
  store_setting(settings, Setting::fft_choice, 2.5);
  EXPECT_EQ(settings.fft_size, 4096u);

  store_setting(settings, Setting::fft_choice, 1);
  const SettingRange hop = setting_range(bounds(Setting::fft_hop), settings);
  EXPECT_FALSE(accepts(hop, 4096));
  EXPECT_TRUE(accepts(hop, 2048));
  EXPECT_EQ(hop.default_value, 1024.0);
}

TEST(AnalysisSettings, ValuesOutsideTheRangeCannotBreakTheRecord) {
  AnalysisSettings settings;
  set_default_settings(settings, 44100);
  store_setting(settings, Setting::fft_choice, 9.0);
  EXPECT_EQ(settings.fft_size, 16384u);
  store_setting(settings, Setting::fft_hop, -5.0);
  EXPECT_EQ(settings.fft_hop, 1u);
  store_setting(settings, Setting::fft_hop, 1e12);
  EXPECT_EQ(settings.fft_hop, 16384u);
  store_setting(settings, Setting::peak_count, std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(settings.peak_count, 1u);
}

}  // namespace
}  // namespace toneprint
