#include "classic/classic_report.h"

#include <optional>

namespace toneprint {

const char* failure_line(PassFailure failure) {
  switch (failure) {
    case PassFailure::no_peaks:
      return "Error: no peaks found. Peak detect threshold may be too high.\n";
    case PassFailure::detection_error:
      return "Error: fundamental frequency detection error. Please report this error.\n";
    case PassFailure::vote_rejected:
      return "Error: the voted fundamental was rejected and nothing could replace it.\n";
  }
  return "";
}

void write_report_header(std::FILE* report, const AnalysisSettings& settings) {
  std::fputs("Frequency, Max Fundamental Amplitude", report);
  for (std::uint32_t i = 0; i <= settings.harmonic_count; ++i) {
    std::fprintf(report, ", Harmonic %u", i);
  }
  std::fputs("\n", report);
}

void write_tone_line(std::FILE* report, const ToneTotals& totals,
                     const AnalysisSettings& settings) {
  if (totals.pass_count == 0) {
    std::fputs("Tone too short to measure\n", report);
    return;
  }
  const double frames = static_cast<double>(totals.pass_count);
  std::fprintf(report, "%.3f, %.1f", totals.frequency_sum / frames,
               totals.max_fundamental_amplitude);
  for (std::uint32_t k = 0; k <= settings.harmonic_count; ++k) {
    if (k >= totals.amplitude_sums.size()) {
      std::fputs(", 0.0", report);  // a column the totals do not hold
      continue;
    }
    const std::optional<double> mean = totals.mean_amplitude(k);
    if (mean) {
      std::fprintf(report, ", %.1f", *mean);
    } else {
      std::fputs(", ", report);
    }
  }
  std::fputs("\n", report);
}

void ClassicReport::pass_started(std::uint64_t, double f0) {
  console_.print("Detected tone at %.2f Hz\n", f0);
}

void ClassicReport::pass_failed(std::uint64_t, PassFailure failure) {
  console_.write(failure_line(failure));
}

void ClassicReport::tone_ended(std::uint64_t, const ToneTotals& totals) {
  write_tone_line(report_, totals, settings_);
}

}  // namespace toneprint
