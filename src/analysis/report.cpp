#include "analysis/report.h"

namespace toneprint {

void ToneTotals::reset(std::uint32_t harmonic_count) {
  frequency_sum = 0.0;
  frame_count = 0;
  max_fundamental_amplitude = 0.0;
  amplitude_sums.assign(static_cast<std::size_t>(harmonic_count) + 1, 0.0);
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
  if (totals.frame_count == 0) {
    std::fputs("Tone too short to measure\n", report);
    return;
  }
  const double frames = static_cast<double>(totals.frame_count);
  std::fprintf(report, "%.3f, %.1f", totals.frequency_sum / frames,
               totals.max_fundamental_amplitude);
  for (std::uint32_t k = 0; k <= settings.harmonic_count; ++k) {
    const double sum = k < totals.amplitude_sums.size() ? totals.amplitude_sums[k] : 0.0;
    if (sum < 0.0) {
      std::fputs(", ", report);
    } else {
      std::fprintf(report, ", %.1f", sum / frames);
    }
  }
  std::fputs("\n", report);
}

void ClassicReport::pass_started(std::uint64_t, double f0) {
  console_.print("Detected tone at %.2f Hz\n", f0);
}

void ClassicReport::pass_failed(std::uint64_t, PassFailure, std::string_view message) {
  console_.write(message);
}

void ClassicReport::tone_ended(std::uint64_t, const ToneTotals& totals) {
  write_tone_line(report_, totals, settings_);
}

}  // namespace toneprint
