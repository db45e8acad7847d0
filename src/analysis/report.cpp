#include "analysis/report.h"

#include <optional>

namespace toneprint {

void ToneTotals::reset(std::uint32_t harmonic_count) {
  frequency_sum = 0.0;
  frame_count = 0;
  max_fundamental_amplitude = 0.0;
  amplitude_sums.assign(static_cast<std::size_t>(harmonic_count) + 1, 0.0);
  measured_counts.assign(amplitude_sums.size(), 0);
}

void ToneTotals::add_pass(double f0, std::span<const double> amplitudes) {
  for (std::size_t k = 0; k < amplitudes.size() && k < amplitude_sums.size(); ++k) {
    if (amplitudes[k] < 0.0) continue;  // above the Nyquist limit in this pass
    amplitude_sums[k] += amplitudes[k];
    measured_counts[k] += 1;
  }
  frequency_sum += f0;
  frame_count += 1;
  if (!amplitudes.empty() && amplitudes[0] > max_fundamental_amplitude) {
    max_fundamental_amplitude = amplitudes[0];
  }
}

std::optional<double> ToneTotals::mean_amplitude(std::size_t k) const {
  if (k >= measured_counts.size() || k >= amplitude_sums.size() || measured_counts[k] == 0) {
    return std::nullopt;
  }
  return amplitude_sums[k] / measured_counts[k];
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

void ClassicReport::pass_failed(std::uint64_t, PassFailure, std::string_view message) {
  console_.write(message);
}

void ClassicReport::tone_ended(std::uint64_t, const ToneTotals& totals) {
  write_tone_line(report_, totals, settings_);
}

}  // namespace toneprint
