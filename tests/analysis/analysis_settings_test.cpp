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

TEST(AnalysisSettings, TheDialogueOffersTheseRangesInThisOrder) {
  AnalysisSettings settings;
  set_default_settings(settings, 44100);
  struct Expected {
    Setting setting;
    SettingKind kind;
    double minimum, maximum, default_value;
  };
  const Expected expected[] = {
      {Setting::harmonic_count, SettingKind::whole, 0, 50, 10},
      {Setting::min_tone_seconds, SettingKind::real, 0.05, 30.0, 0.3},
      {Setting::attack_seconds, SettingKind::real, 0.0, 10.0, 0.2},
      {Setting::peak_threshold, SettingKind::whole, 1, 150, 40},
      {Setting::silence_seconds, SettingKind::real, 0.1, 10.0, 0.4},
      {Setting::fft_choice, SettingKind::whole, 1, 4.01, 3},
      {Setting::fft_hop, SettingKind::whole, 1, 8192, 1024},
      {Setting::silence_threshold, SettingKind::real, 1, 10000, 3200},
      {Setting::min_cycles, SettingKind::whole, 1, 100, 5},
      {Setting::max_extra_seconds, SettingKind::real, 0.0, 1.0, 0.04},
      {Setting::max_cycle_fraction, SettingKind::real, 0.0001, 1.0, 0.01},
      {Setting::peak_count, SettingKind::whole, 1, 20, 5},
  };
  ASSERT_EQ(std::size(expected), setting_bounds.size());
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    const SettingRange range = setting_range(setting_bounds[i], settings);
    EXPECT_EQ(setting_bounds[i].setting, expected[i].setting) << "item " << i + 1;
    EXPECT_EQ(setting_bounds[i].kind, expected[i].kind) << "item " << i + 1;
    EXPECT_EQ(range.minimum, expected[i].minimum) << "item " << i + 1;
    EXPECT_EQ(range.maximum, expected[i].maximum) << "item " << i + 1;
    EXPECT_EQ(range.default_value, expected[i].default_value) << "item " << i + 1;
  }
  EXPECT_EQ(basic_setting_count, 4u);
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
