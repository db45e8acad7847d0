#pragma once

// A whole recording analysed through its source, as every front-end that
// reads recordings does it: the robust mode's first reading for the levels
// where it needs one, then the tone loop, gathered into a RecordingResult.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "analysis/evaluation.h"
#include "analysis/recording_result.h"
#include "analysis/robust_settings.h"
#include "analysis/sample_source.h"

namespace toneprint {

// How a recording is analysed, besides its settings.
struct AnalysisOptions {
  ChannelChoice channel;     // the channel opened, where the analysis opens the recording
  RobustSettings robust;     // all off: the default analysis
  bool keep_levels = false;  // keep the samples' level over time in result.levels
  bool one_thread = false;   // other analyses run at the same time
  bool partials = false;     // measure each partial at its own frequency too
  Evaluation evaluation = Evaluation::fast;
};

// Gives the recording again from its start, for a source that cannot seek
// back to it; null, with the reason in `error`, when it cannot.
using Reopen = std::function<std::unique_ptr<SampleSource>(std::string& error)>;

// Analyses `source` from its start to its end. `result` comes with its
// settings (and path) set; the format, the tones, the samples analysed, the
// loudest sample and why the reading stopped short (or an empty error) are
// filled in, and opened is set. `read` counts the samples as they are first
// read, for a progress line.
void analyse_source(std::unique_ptr<SampleSource>& source, const Reopen& reopen,
                    const AnalysisOptions& options, RecordingResult& result,
                    std::atomic<std::uint64_t>& read);

}  // namespace toneprint
