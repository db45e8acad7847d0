#include "analysis/report.h"

#include <gtest/gtest.h>

#include "support/capture_file.h"

namespace toneprint {
namespace {

AnalysisSettings with_harmonics(std::uint32_t count) {
  AnalysisSettings settings;
  set_default_settings(settings, 8000);
  settings.harmonic_count = count;
  return settings;
}

TEST(Report, HeaderNamesEveryHarmonic) {
  test::CaptureFile report;
  write_report_header(report.get(), with_harmonics(3));
  write_report_header(report.get(), with_harmonics(0));
  EXPECT_EQ(report.text(),
            "Frequency, Max Fundamental Amplitude, Harmonic 0, Harmonic 1, Harmonic 2, Harmonic 3\n"
            "Frequency, Max Fundamental Amplitude, Harmonic 0\n");
}

TEST(Report, HarmonicsAboveTheLimitLeaveEmptyColumns) {
  // Two passes at 1500.2 and 1500.6 Hz at 8000 samples per second, whose
  // third and fourth harmonic indices lie above 4000 Hz in both.
  const AnalysisSettings settings = with_harmonics(3);
  ToneTotals totals;
  totals.reset(3);
  for (const auto& [f0, amplitudes] : {std::pair{1500.2, std::array{800.0, 300.0, -1.0, -1.0}},
                                       std::pair{1500.6, std::array{900.0, 290.0, -1.0, -1.0}}}) {
    totals.frequency_sum += f0;
    totals.frame_count += 1;
    totals.max_fundamental_amplitude = std::max(totals.max_fundamental_amplitude, amplitudes[0]);
    for (std::size_t k = 0; k < amplitudes.size(); ++k) totals.amplitude_sums[k] += amplitudes[k];
  }
  test::CaptureFile report;
  write_tone_line(report.get(), totals, settings);
  EXPECT_EQ(report.text(), "1500.400, 900.0, 850.0, 295.0, , \n");
}

TEST(Report, SumsOfZeroAndPartlyMeasuredHarmonics) {
  // A harmonic measured at 3.0 in one pass and above the limit in the
  // other sums to 2.0: mean 1.0. A zero sum is written as 0.0, not empty.
  ToneTotals totals;
  totals.reset(2);
  totals.frequency_sum = 880.0;
  totals.frame_count = 2;
  totals.max_fundamental_amplitude = 0.0;
  totals.amplitude_sums = {0.0, 2.0, -0.5};
  test::CaptureFile report;
  write_tone_line(report.get(), totals, with_harmonics(2));
  EXPECT_EQ(report.text(), "440.000, 0.0, 0.0, 1.0, \n");
}

TEST(Report, ToneWithoutPassesIsTooShort) {
  ToneTotals totals;
  totals.reset(10);
  test::CaptureFile report;
  write_tone_line(report.get(), totals, with_harmonics(10));
  EXPECT_EQ(report.text(), "Tone too short to measure\n");
}

}  // namespace
}  // namespace toneprint
