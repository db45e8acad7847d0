#include "classic/classic_report.h"

#include <string>
#include <utility>

#include "support/test_support.h"
#include "toneprint/toneprint.h"

using namespace toneprint;

TEST(Report, HeaderNamesEveryHarmonicAndEachToneIsOneLineOfMeans) {
  AnalysisSettings settings;
  std::FILE* const report = std::tmpfile();
  ToneTotals totals;
  totals.reset(3);
  for (const std::uint32_t harmonics : {3u, 0u}) {
    settings.harmonic_count = harmonics;
    write_report_header(report, settings);
    write_tone_line(report, totals, settings);  // no pass measured
  }
  // Two passes at 1500.2 and 1500.6 Hz at 8000 samples per second: the last
  // harmonic lies above the limit in both (an empty column), the one before
  // in only one (mean 3.0 over the other); a zero sum reads 0.0, and a
  // column the sums do not hold reads 0 too.
  totals = {3000.8, 2, 900.04, {1700.0, 0.0, 3.0, 0.0}, {2, 2, 1, 0}};
  settings.harmonic_count = 4;
  write_tone_line(report, totals, settings);
  EXPECT_EQ(test::contents_of(report),
            "Frequency, Max Fundamental Amplitude, Harmonic 0, Harmonic 1, Harmonic 2, Harmonic 3\n"
            "Tone too short to measure\n"
            "Frequency, Max Fundamental Amplitude, Harmonic 0\n"
            "Tone too short to measure\n"
            "1500.400, 900.0, 850.0, 0.0, 3.0, , 0.0\n");
}

// The console's line for each kind of failed pass, which the front-ends give
// as the failure's message without its line break.
TEST(Report, EachKindOfFailedPassHasItsConsoleLineAndMessage) {
  const std::pair<PassFailure, std::string> lines[] = {
      {PassFailure::no_peaks, "Error: no peaks found. Peak detect threshold may be too high."},
      {PassFailure::detection_error,
       "Error: fundamental frequency detection error. Please report this error."},
      {PassFailure::vote_rejected,
       "Error: the voted fundamental was rejected and nothing could replace it."}};
  for (const auto& [failure, line] : lines) {
    EXPECT_EQ(failure_line(failure), line + "\n");
    EXPECT_EQ(failure_message(failure), line);
  }
}
