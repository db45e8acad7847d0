#include "analysis/recording_analysis.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

#include "analysis/legato_split.h"
#include "analysis/level_scan.h"
#include "analysis/tone_analysis.h"
#include "analysis/tone_results.h"

namespace toneprint {
namespace {

// Counts the samples the analysis has reached, for the progress line, and
// keeps the loudest one it read.
class CountingSource final : public SampleSource {
 public:
  CountingSource(SampleSource& source, std::atomic<std::uint64_t>& count)
      : source_(source), count_(count) {}
  std::size_t read(std::span<double> out) override {
    const std::size_t got = source_.read(out);
    for (std::size_t i = 0; i < got; ++i) peak_ = std::max(peak_, std::fabs(out[i]));
    position_ += got;
    if (position_ > furthest_) {
      count_ += position_ - furthest_;
      furthest_ = position_;
    }
    return got;
  }
  bool seek(std::uint64_t frame) override {
    if (!source_.seek(frame)) return false;
    position_ = frame;
    return true;
  }
  const RecordingFormat& format() const override { return source_.format(); }
  const std::string& error() const override { return source_.error(); }
  double peak() const { return peak_; }

 private:
  SampleSource& source_;
  std::atomic<std::uint64_t>& count_;
  std::uint64_t position_ = 0;
  std::uint64_t furthest_ = 0;
  double peak_ = 0.0;
};

}  // namespace

void analyse_source(std::unique_ptr<SampleSource>& source, const Reopen& reopen,
                    const AnalysisOptions& run, RecordingResult& result,
                    std::atomic<std::uint64_t>& read) {
  result.format = source->format();
  result.opened = true;
  result.partials = run.partials;

  const RobustSettings& robust = run.robust;
  ToneLoopModes analysis{robust, 0.0, run.partials};
  if (robust.relative_threshold || robust.follow_tail ||
      (run.keep_levels && robust.changes_tone_loop())) {
    // A first reading for the levels: the loudest sample for the threshold,
    // the noise floor for the tails, and the kept level (the tone loop
    // seeks, so it cannot keep it). Then back to the start.
    const RecordingLevels levels =
        scan_levels(*source, run.keep_levels ? &result.levels.emplace() : nullptr);
    analysis.noise_floor = levels.noise_floor;
    result.noise_floor = levels.noise_floor;
    if (robust.relative_threshold) {
      result.settings.silence_threshold =
          std::min(result.settings.silence_threshold,
                   levels.peak * std::pow(10.0, -robust.relative_threshold_db / 20.0));
    }
    if (!source->seek(0)) source = reopen(result.error);
    if (source == nullptr) return;
  }

  CountingSource counted(*source, read);
  ToneCollector collector(robust.consensus, result.settings.sample_rate);
  const std::uint64_t before = read;
  if (run.keep_levels && !result.levels) {
    LevelTap tap(counted, result.levels.emplace());
    result.error =
        analyse_tones(tap, result.settings, analysis, collector, run.evaluation, run.one_thread);
  } else {
    result.error = analyse_tones(counted, result.settings, analysis, collector, run.evaluation,
                                 run.one_thread);
  }
  result.samples = read - before;
  result.peak = counted.peak();
  result.tones = std::move(collector.tones());
  if (robust.split_legato && result.error.empty() &&
      std::any_of(result.tones.begin(), result.tones.end(), passes_disagree)) {
    // The split reads the tones it splits again: from this source where it
    // can seek, otherwise from the recording opened again.
    if (!source->seek(0)) source = reopen(result.error);
    if (source == nullptr) return;
    result.error = split_legato(*source, result.settings, analysis, robust.consensus,
                                result.tones, run.evaluation, run.one_thread);
  }
}

}  // namespace toneprint
