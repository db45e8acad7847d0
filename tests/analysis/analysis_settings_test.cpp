#include "analysis/analysis_settings.h"

#include "support/test_support.h"

using namespace toneprint;

// The dialogue's tests show the bounds and defaults it offers and what it
// stores; these hold what it cannot ask for.
TEST(AnalysisSettings, ValuesOutsideTheSizesAndTheRangeAreHeldToThem) {
  AnalysisSettings s;
  set_default_settings(s, 44100);
  // setting, value, stored; an FFT size is the largest size not above the
  // value, and the hop's maximum is the FFT size
  const std::tuple<Setting, double, double> cases[] = {{Setting::fft_size, 9.0, 2048},
                                                       {Setting::fft_size, 8191.0, 4096},
                                                       {Setting::fft_size, 1e9, 16384},
                                                       {Setting::fft_hop, -5.0, 1},
                                                       {Setting::fft_hop, 1e12, 16384},
                                                       {Setting::peak_count, std::nan(""), 1},
                                                       {Setting::silence_threshold, 1e9, 10000}};
  for (const auto& [setting, value, stored] : cases) {
    store_setting(s, setting, value);
    EXPECT_EQ(setting_value(s, setting), stored) << static_cast<int>(setting) << ": " << value;
  }
  set_default_settings(s, 22050);
  EXPECT_EQ(s.fft_hop, 1024u) << "the defaults replace what the record held";
}
