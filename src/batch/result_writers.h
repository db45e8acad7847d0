#pragma once

// The writers of toneprint-batch's output formats.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "toneprint/toneprint.h"
#include "batch/batch_options.h"

namespace toneprint {

// Writes the results of a run in one format, recording by recording, as
// they come.
class ResultWriter {
 public:
  virtual ~ResultWriter() = default;
  virtual void recording(const RecordingResult& result) = 0;
  // After the last recording; with a target, the reference pitch that fits
  // the run's tones best, if any.
  virtual void finish(const std::optional<BestReference>& /*best_reference*/) {}
};

std::unique_ptr<ResultWriter> make_writer(const BatchOptions& options, std::FILE* out);

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& text);

}  // namespace toneprint
