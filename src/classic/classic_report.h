#pragma once

// The interactive program's text, which toneprint-batch -f classic writes
// too: the report (a header line, then one line per tone, columns separated
// by a comma and a blank, amplitudes in raw sample units) and the console's
// line for each pass.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "analysis/analysis_settings.h"
#include "analysis/tone_events.h"
#include "classic/text_output.h"

namespace toneprint {

// The console's line for a failed pass, with its line break.
const char* failure_line(PassFailure failure);

// "Frequency, Max Fundamental Amplitude, Harmonic 0, ..., Harmonic H\n".
void write_report_header(std::FILE* report, const AnalysisSettings& settings);

// The tone's means, or "Tone too short to measure\n" when no pass was
// measured. A harmonic whose sum is negative gets an empty column.
void write_tone_line(std::FILE* report, const ToneTotals& totals, const AnalysisSettings& settings);

// The report and the console lines as the tone loop's events give them: a
// "Detected tone at ... Hz" line or an error line per pass on the console,
// a tone line per tone in the report.
class ClassicReport final : public ToneListener {
 public:
  ClassicReport(std::FILE* report, TextOutput& console, const AnalysisSettings& settings)
      : report_(report), console_(console), settings_(settings) {}

  void tone_started(std::uint64_t) override {}
  void pass_started(std::uint64_t first, double f0) override;
  void pass_measured(std::uint64_t, double, std::span<const double>) override {}
  void pass_failed(std::uint64_t first, PassFailure failure) override;
  void tone_ended(std::uint64_t end, const ToneTotals& totals) override;

 private:
  std::FILE* report_;
  TextOutput& console_;
  const AnalysisSettings& settings_;
};

}  // namespace toneprint
