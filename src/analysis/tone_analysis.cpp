#include "analysis/tone_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "analysis/harmonic_measurement.h"
#include "analysis/pitch_detection.h"
#include "analysis/report.h"
#include "analysis/sample_stream.h"
#include "readers/wave_source.h"

namespace toneprint {
namespace {

constexpr const char* no_peaks_message =
    "Error: no peaks found. Peak detect threshold may be too high.\n";
constexpr const char* detection_error_message =
    "Error: fundamental frequency detection error. Please report this error.\n";

// Inside a tone a sample is loud when its magnitude exceeds the threshold
// (-32768 has the magnitude 32768).
bool is_loud(double sample, double threshold) { return std::fabs(sample) > threshold; }

// The silence test, remembering the loud sample that its last look ahead
// found. Every sample between the quiet sample that started that look and
// the loud one is quiet, so a test started by any of them ends at the same
// loud sample within its reach: it can answer at once, without reading ahead
// and coming back again. That keeps long quiet stretches that are not quite
// a break from costing a look ahead per sample.
class SilenceTest {
 public:
  explicit SilenceTest(const AnalysisSettings& settings)
      : length_(duration_samples(settings.sample_rate, settings.silence_seconds)),
        threshold_(settings.silence_threshold) {}

  std::uint32_t length() const { return length_; }

  bool follows(SampleStream& stream) {
    const std::uint64_t next = stream.position();
    if (next <= loud_at_) return false;
    for (std::uint32_t i = 1; i <= length_; ++i) {
      double sample = 0.0;
      if (!stream.read(sample)) return true;  // the end counts as silence
      if (is_loud(sample, threshold_)) {
        loud_at_ = next + i - 1;
        stream.skip_back(i);
        return false;
      }
    }
    return true;
  }

 private:
  std::uint32_t length_;
  double threshold_;
  // Position of the loud sample the last look ahead stopped at. Every test
  // runs after a sample has been read, so the initial 0 never matches.
  std::uint64_t loud_at_ = 0;
};

// Reads the samples of one tone, ending it at a break or at the end of the
// recording.
class ToneReader {
 public:
  ToneReader(SampleStream& stream, const SilenceTest& silence, double threshold)
      : stream_(stream), silence_(silence), threshold_(threshold) {}

  // Starts a new tone: the break found at the end of the last one is gone.
  void start_tone() { break_found_ = false; }

  // Reads the next sample into `value`. False when the tone ends here: the
  // read failed, or the sample is quiet and a break follows it.
  bool next(double& value) {
    if (!stream_.read(value)) {
      read_failed_ = true;
      end_ = stream_.position();
      return false;
    }
    if (!is_loud(value, threshold_)) {
      const std::uint64_t quiet = stream_.position() - 1;
      if (silence_.follows(stream_)) {
        break_found_ = true;
        end_ = quiet;
        return false;
      }
    }
    return true;
  }

  bool tone_ended() const { return break_found_ || read_failed_; }
  bool read_failed() const { return read_failed_; }
  // Where the tone ended: its closing silence's first sample, or the end.
  std::uint64_t end() const { return end_; }

 private:
  SampleStream& stream_;
  SilenceTest silence_;
  double threshold_;
  bool break_found_ = false;
  bool read_failed_ = false;
  std::uint64_t end_ = 0;
};

// Waits for a sample whose signed value exceeds the threshold; a negative
// sample never starts a tone. False at the end of the recording.
bool wait_for_tone(SampleStream& stream, double threshold) {
  double sample = 0.0;
  while (stream.read(sample)) {
    if (sample > threshold) return true;
  }
  return false;
}

}  // namespace

std::uint32_t duration_samples(std::uint32_t sample_rate, double seconds) {
  const double samples = static_cast<double>(sample_rate) * seconds;
  if (!(samples >= 0.0)) return 0;
  if (samples >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(samples);
}

void analyse_tones(SampleSource& source, const AnalysisSettings& settings, ToneListener& listener,
                   Evaluation evaluation, bool one_thread) {
  const std::size_t block_length = static_cast<std::size_t>(settings.fft_size) + settings.fft_hop;
  std::vector<double> block(block_length);
  std::vector<double> frame_amplitudes(static_cast<std::size_t>(settings.harmonic_count) + 1);
  ToneTotals totals;
  SilenceTest silence(settings);
  // The silence test looks ahead at most its own length and then returns.
  SampleStream stream(source, silence.length());
  ToneReader reader(stream, silence, settings.silence_threshold);
  PitchDetector pitch_detector;
  HarmonicAccumulator frame(evaluation);
  if (one_thread) frame.use_one_thread();
  const std::uint32_t attack = duration_samples(settings.sample_rate, settings.attack_seconds);

  while (wait_for_tone(stream, settings.silence_threshold)) {
    const std::uint64_t start = stream.position() - 1;
    if (!stream.skip_forward(attack)) return;  // no line for a tone cut in its attack
    listener.tone_started(start);
    totals.reset(settings.harmonic_count);
    reader.start_tone();

    while (!reader.tone_ended()) {
      // The pitch block; one that is not full is never analysed.
      const std::uint64_t first = stream.position();
      for (std::size_t j = 0; j < block_length && reader.next(block[j]); ++j) {
      }
      if (reader.tone_ended()) break;

      const PitchEstimate pitch =
          pitch_detector.detect(block, settings.fft_size, settings.fft_hop, settings.sample_rate,
                                settings.peak_threshold, settings.peak_count);
      if (pitch.status == PitchStatus::NoPeaks) {
        listener.pass_failed(first, PassFailure::no_peaks, no_peaks_message);
        continue;
      }
      const double f0 = pitch.frequency;
      if (pitch.status != PitchStatus::Found || !std::isfinite(f0) || f0 <= 0.0) {
        listener.pass_failed(first, PassFailure::detection_error, detection_error_message);
        continue;
      }
      listener.pass_started(first, f0);

      // The DFT frame starts with the pitch block's first samples and goes
      // on with fresh ones; each sample is measured as it arrives, so the
      // frame is never held in memory, whatever its length. A frame longer
      // than what the recording still holds cannot be completed, so its
      // samples are only read.
      frame.start(f0, settings);
      const std::uint64_t length = frame.length();
      const std::size_t from_block =
          static_cast<std::size_t>(std::min<std::uint64_t>(block_length, length));
      const bool completable = length - from_block <= stream.remaining();
      if (completable) frame.add(std::span<const double>(block.data(), from_block));
      for (std::uint64_t i = from_block; i < length; ++i) {
        double value = 0.0;
        if (!reader.next(value)) break;
        if (completable) frame.add(value);
      }
      if (reader.tone_ended()) break;  // the pass is dropped

      frame.amplitudes(frame_amplitudes);
      listener.pass_measured(first, f0, frame_amplitudes);
      for (std::size_t k = 0; k < frame_amplitudes.size(); ++k) {
        totals.amplitude_sums[k] += frame_amplitudes[k];
      }
      totals.frequency_sum += f0;
      totals.frame_count += 1;
      if (frame_amplitudes[0] > totals.max_fundamental_amplitude) {
        totals.max_fundamental_amplitude = frame_amplitudes[0];
      }
    }

    listener.tone_ended(reader.end(), totals);
    if (reader.read_failed()) return;
  }
}

void analyse_tones(WaveFile& wave, const AnalysisSettings& settings, std::FILE* report,
                   TextOutput& console, Evaluation evaluation) {
  WaveSource source(wave, WaveEncoding{}, ChannelChoice::mix());
  ClassicReport classic(report, console, settings);
  analyse_tones(source, settings, classic, evaluation);
}

}  // namespace toneprint
