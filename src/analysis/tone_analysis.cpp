#include "analysis/tone_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "analysis/harmonic_measurement.h"
#include "analysis/pitch_detection.h"
#include "analysis/report.h"

namespace toneprint {
namespace {

constexpr const char* no_peaks_message =
    "Error: no peaks found. Peak detect threshold may be too high.\n";
constexpr const char* detection_error_message =
    "Error: fundamental frequency detection error. Please report this error.\n";

// Inside a tone a sample is loud when its magnitude exceeds the threshold
// (-32768 has the magnitude 32768).
bool is_loud(std::int16_t sample, double threshold) {
  return static_cast<double>(std::abs(static_cast<std::int32_t>(sample))) > threshold;
}

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

  bool follows(WaveFile& wave) {
    const std::uint64_t next = wave.sample_position();
    if (next <= loud_at_) return false;
    for (std::uint32_t i = 1; i <= length_; ++i) {
      std::int16_t sample = 0;
      if (!wave.read_sample(sample)) return true;  // the end counts as silence
      if (is_loud(sample, threshold_)) {
        loud_at_ = next + i - 1;
        wave.skip_back(i);
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
  ToneReader(WaveFile& wave, const AnalysisSettings& settings)
      : wave_(wave), silence_(settings), threshold_(settings.silence_threshold) {}

  // Starts a new tone: the break found at the end of the last one is gone.
  void start_tone() { break_found_ = false; }

  // Reads the next sample into `value`. False when the tone ends here: the
  // read failed, or the sample is quiet and a break follows it.
  bool next(double& value) {
    std::int16_t sample = 0;
    if (!wave_.read_sample(sample)) {
      read_failed_ = true;
      return false;
    }
    value = sample;
    if (!is_loud(sample, threshold_) && silence_.follows(wave_)) {
      break_found_ = true;
      return false;
    }
    return true;
  }

  bool tone_ended() const { return break_found_ || read_failed_; }
  bool read_failed() const { return read_failed_; }

 private:
  WaveFile& wave_;
  SilenceTest silence_;
  double threshold_;
  bool break_found_ = false;
  bool read_failed_ = false;
};

// Waits for a sample whose signed value exceeds the threshold; a negative
// sample never starts a tone. False at the end of the recording.
bool wait_for_tone(WaveFile& wave, double threshold) {
  std::int16_t sample = 0;
  while (wave.read_sample(sample)) {
    if (static_cast<double>(sample) > threshold) return true;
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

bool silence_follows(WaveFile& wave, const AnalysisSettings& settings) {
  return SilenceTest(settings).follows(wave);
}

void analyse_tones(WaveFile& wave, const AnalysisSettings& settings, std::FILE* report,
                   TextOutput& console, Evaluation evaluation) {
  const std::size_t block_length = static_cast<std::size_t>(settings.fft_size) + settings.fft_hop;
  std::vector<double> block(block_length);
  std::vector<double> frame_amplitudes(static_cast<std::size_t>(settings.harmonic_count) + 1);
  ToneTotals totals;
  ToneReader reader(wave, settings);
  PitchDetector pitch_detector;
  HarmonicAccumulator frame(evaluation);
  const std::uint32_t attack = duration_samples(settings.sample_rate, settings.attack_seconds);

  while (wait_for_tone(wave, settings.silence_threshold)) {
    if (!wave.skip_forward(attack)) return;  // no line for a tone cut in its attack
    totals.reset(settings.harmonic_count);
    reader.start_tone();

    while (!reader.tone_ended()) {
      // The pitch block; one that is not full is never analysed.
      for (std::size_t j = 0; j < block_length && reader.next(block[j]); ++j) {
      }
      if (reader.tone_ended()) break;

      const PitchEstimate pitch =
          pitch_detector.detect(block, settings.fft_size, settings.fft_hop, settings.sample_rate,
                                settings.peak_threshold, settings.peak_count);
      if (pitch.status == PitchStatus::NoPeaks) {
        console.write(no_peaks_message);
        continue;
      }
      const double f0 = pitch.frequency;
      if (pitch.status != PitchStatus::Found || !std::isfinite(f0) || f0 <= 0.0) {
        console.write(detection_error_message);
        continue;
      }
      console.print("Detected tone at %.2f Hz\n", f0);

      // The DFT frame starts with the pitch block's first samples and goes
      // on with fresh ones; each sample is measured as it arrives, so the
      // frame is never held in memory, whatever its length. A frame longer
      // than what the recording still holds cannot be completed, so its
      // samples are only read.
      frame.start(f0, settings);
      const std::uint64_t length = frame.length();
      const std::size_t from_block =
          static_cast<std::size_t>(std::min<std::uint64_t>(block_length, length));
      const bool completable = length - from_block <= wave.samples_remaining();
      if (completable) frame.add(std::span<const double>(block.data(), from_block));
      for (std::uint64_t i = from_block; i < length; ++i) {
        double value = 0.0;
        if (!reader.next(value)) break;
        if (completable) frame.add(value);
      }
      if (reader.tone_ended()) break;  // the pass is dropped

      frame.amplitudes(frame_amplitudes);
      for (std::size_t k = 0; k < frame_amplitudes.size(); ++k) {
        totals.amplitude_sums[k] += frame_amplitudes[k];
      }
      totals.frequency_sum += f0;
      totals.frame_count += 1;
      if (frame_amplitudes[0] > totals.max_fundamental_amplitude) {
        totals.max_fundamental_amplitude = frame_amplitudes[0];
      }
    }

    write_tone_line(report, totals, settings);
    if (reader.read_failed()) return;
  }
}

}  // namespace toneprint
