#pragma once

// One recording's analysis, as the front-ends write it: where it came from,
// its format and settings, its tones and, when asked for, its level over
// time.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analysis_settings.h"
#include "analysis/level_envelope.h"
#include "analysis/tone_results.h"
#include "analysis/sample_source.h"

namespace toneprint {

struct RecordingResult {
  std::string path;
  bool opened = false;  // the format and settings below are known
  std::string error;    // why it could not be read, or read to its end
  RecordingFormat format;
  AnalysisSettings settings;
  bool partials = false;      // the partials analysis was asked for
  std::uint64_t samples = 0;  // samples analysed
  double peak = 0.0;          // the loudest sample's magnitude
  // The noise floor that a followed tail stops above, in sample units,
  // where the robust mode estimated it.
  double noise_floor = 0.0;
  std::vector<ToneRecord> tones;
  std::optional<LevelEnvelope> levels;  // the samples' level, when kept

  double seconds(std::uint64_t sample) const {
    return static_cast<double>(sample) / static_cast<double>(format.sample_rate);
  }
};

}  // namespace toneprint
