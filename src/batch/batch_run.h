#pragma once

// A run of toneprint-batch once its options are parsed: the output checked
// before any work, the recordings analysed in parallel, the results written
// in the order of the arguments, the output file replaced only when written
// in full.

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>

#include "batch/batch_options.h"
#include "batch/result_writers.h"

namespace toneprint {

// How far the analysis of a recording has come.
struct Progress {
  std::atomic<std::uint64_t> read{0};    // samples read
  std::atomic<std::uint64_t> frames{0};  // samples in the recording, 0 until known
};

// Reads and analyses one recording; `one_thread` when other recordings are
// analysed at the same time.
RecordingResult analyse_recording(const std::string& path, const BatchOptions& options,
                                  Progress& progress, bool one_thread);

// 0 when every recording was analysed and the output written in full; 1
// when a recording could not be read or the output not written; 2 for an
// output that must not be written (an existing file without --force, one
// of the recordings). Errors go to `err`.
int run_batch(const BatchOptions& options, std::ostream& err);

}  // namespace toneprint
