#pragma once

// One recording's analysis as toneprint-batch writes it, and the writers of
// each output format.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis_settings.h"
#include "analysis/tone_results.h"
#include "batch/batch_options.h"
#include "readers/sample_source.h"

namespace toneprint {

struct RecordingResult {
  std::string path;
  bool opened = false;  // the format and settings below are known
  std::string error;    // why it could not be read, or read to its end
  RecordingFormat format;
  AnalysisSettings settings;
  std::uint64_t samples = 0;  // samples analysed
  std::vector<ToneRecord> tones;

  double seconds(std::uint64_t sample) const {
    return static_cast<double>(sample) / static_cast<double>(format.sample_rate);
  }
};

// Writes the results of a run in one format, recording by recording, as
// they come.
class ResultWriter {
 public:
  virtual ~ResultWriter() = default;
  virtual void recording(const RecordingResult& result) = 0;
  virtual void finish() {}
};

std::unique_ptr<ResultWriter> make_writer(const BatchOptions& options, std::FILE* out);

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& text);

}  // namespace toneprint
