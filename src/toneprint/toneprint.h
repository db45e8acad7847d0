#pragma once

// toneprint's public interface: the one header that the front-ends
// (toneprint-batch, the Vamp plugin, the Python module) include. It gives
// the settings with their names, bounds and defaults, the robust mode's
// changes, the sources of samples, the run over a recording and its
// results, the targets that tones are tuned against, and the comparison of
// sets of tones, measured now or read back from stored results. The records
// it includes are plain; the analysis's machinery stays behind it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "analysis/analysis_settings.h"
#include "analysis/comparison.h"
#include "analysis/expectations.h"
#include "analysis/recording_analysis.h"
#include "analysis/recording_result.h"
#include "analysis/result_warnings.h"
#include "analysis/robust_settings.h"
#include "analysis/sample_source.h"
#include "analysis/timbre.h"
#include "analysis/tone_results.h"
#include "analysis/tuning.h"
#include "toneprint/stored_results.h"

namespace toneprint {

// Opens the recording at `path` (WAVE, and every format libsndfile reads
// where the build has it) for reading `choice`; null, with the reason in
// `error`, when it cannot.
std::unique_ptr<SampleSource> open_recording(const std::string& path, ChannelChoice choice,
                                             std::string& error);

// The name that stands for standard input among the recordings.
inline constexpr const char* standard_input_name = "-";

// Whether a file name names a recording by its extension (a folder's files
// are chosen by it).
bool is_recording_name(const std::string& file_name);

// The recordings that `names` stand for: a folder by its audio files in
// name order (its subfolders' too when `recursive`). A name that is neither
// a folder nor a file is kept, so that reading it reports it; a folder that
// cannot be listed goes to `errors` as "cannot read the folder NAME: why".
std::vector<std::string> expand_folders(const std::vector<std::string>& names, bool recursive,
                                        std::vector<std::string>& errors);

// The libsndfile this build reads other formats with, or empty.
std::string sndfile_version();

// Interleaved frames that the caller holds (and keeps while the source is
// read), each value times `scale` on the 16-bit scale, unsigned integers
// offset by their midpoint first. format.frames is set from the samples;
// error() is set for a channel the format does not have. Sample is one of
// the integer types of 8 to 64 bits, float or double.
template <typename Sample>
std::unique_ptr<SampleSource> memory_source(std::span<const Sample> samples,
                                            const RecordingFormat& format, ChannelChoice choice,
                                            double scale);

// How far the analysis of a recording has come.
struct Progress {
  std::atomic<std::uint64_t> read{0};    // samples read
  std::atomic<std::uint64_t> frames{0};  // samples in the recording, 0 until known
  // Called now and then as the samples are read, on the analysing thread:
  // for a caller that cannot watch the counts from another thread.
  std::function<void(const Progress&)> report;
};

// The settings for a recording of `sample_rate`, or why there are none.
using SettingsFor =
    std::function<std::string(std::uint32_t sample_rate, AnalysisSettings& settings)>;

// Opens and analyses the recording at `path` (named `name` in the result)
// through options.channel. The result's error says why it could not be
// opened, had no settings, or was read only in part.
RecordingResult analyse_file(const std::string& path, const std::string& name,
                             const AnalysisOptions& options, const SettingsFor& settings_for,
                             Progress& progress);

// The octave guard (guard_octaves) over the recording at `path`, opened
// again, that `result` was analysed from; why it could not be, or empty.
std::string guard_octaves_in_file(RecordingResult& result, const Tuning& tuning,
                                  const std::string& path, const AnalysisOptions& options);

// The line the interactive program prints for a failed pass, without its
// line break: the message that every front-end gives with the failure.
std::string failure_message(PassFailure failure);

}  // namespace toneprint
