#pragma once

// The report: a header line, then one line per tone, columns separated by a
// comma and a blank. Amplitudes are peak amplitudes in raw sample units.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "analysis/analysis_settings.h"

namespace toneprint {

// A tone's sums over its measured passes.
struct ToneTotals {
  double frequency_sum = 0.0;              // Hz
  std::uint32_t frame_count = 0;           // measured passes
  double max_fundamental_amplitude = 0.0;  // 0.0 unless some pass exceeded it
  // Per harmonic index k (frequency (k + 1) f0); a harmonic above the
  // Nyquist limit adds -1.0 for each pass.
  std::vector<double> amplitude_sums;

  // Clears the sums for a new tone, with one entry per harmonic index.
  void reset(std::uint32_t harmonic_count);
};

// "Frequency, Max Fundamental Amplitude, Harmonic 0, ..., Harmonic H\n".
void write_report_header(std::FILE* report, const AnalysisSettings& settings);

// The tone's means, or "Tone too short to measure\n" when no pass was
// measured. A harmonic whose sum is negative gets an empty column.
void write_tone_line(std::FILE* report, const ToneTotals& totals, const AnalysisSettings& settings);

}  // namespace toneprint
