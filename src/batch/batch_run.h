#pragma once

// A run of toneprint-batch once its options are parsed: the output checked
// before any work, the recordings analysed in parallel, the results written
// in the order of the arguments, the output file replaced only when written
// in full.

#include <cstddef>
#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "batch/batch_options.h"
#include "batch/result_writers.h"

namespace toneprint {

// Reads and analyses one recording of the list; `one_thread` when other
// recordings are analysed at the same time.
RecordingResult analyse_listed(const std::string& path, const BatchOptions& options,
                               Progress& progress, bool one_thread);

// 0 when every recording was analysed and the output written in full; 1
// when a recording could not be read or the output not written; 2 for an
// output that must not be written (an existing file without --force, one
// of the recordings). Errors go to `err`.
int run_batch(const BatchOptions& options, std::ostream& err);

// How far the analysis of the list's recording `index` has come.
using ProgressReport = std::function<void(std::size_t index, const Progress& progress)>;

// A run's work apart from its output: the options' recordings analysed,
// each result handed to every writer in the order of the list and the
// writers finished, the problems written to `err` as a run writes them;
// `report`, when set, hears of each analysis as it reads. Whether every
// recording was read (and met its expectation).
bool write_results(const BatchOptions& options, std::span<ResultWriter* const> writers,
                   std::ostream& err, const ProgressReport& report = {});

// toneprint-batch compare: each set's tones, analysed from its recordings
// as a run analyses them or read from its stored results, compared and
// written as the options ask. The same statuses as a run; with fewer than
// two sets read, nothing is written and the status is 1.
int run_compare(const BatchOptions& options, std::ostream& err);

}  // namespace toneprint
