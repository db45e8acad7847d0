#include "analysis/tone_analysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

#include "analysis/harmonic_measurement.h"
#include "analysis/partial_analysis.h"
#include "analysis/pitch_detection.h"
#include "analysis/sample_stream.h"
#include "analysis/vote_check.h"

namespace toneprint {
namespace {

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

  // Whether a quiet sample read with the stream then at `next` is answered
  // at once (no break can follow it before the loud sample last found).
  bool answered_at(std::uint64_t next) const { return next <= loud_at_; }

  bool follows(SampleStream& stream) {
    const std::uint64_t next = stream.position();
    if (next <= loud_at_) return false;
    for (std::uint32_t i = 1; i <= length_; ++i) {
      double sample = 0.0;
      if (!stream.read(sample)) return true;  // the end counts as silence
      if (is_loud(sample, threshold_)) {
        loud_at_ = next + i - 1;
        stream.skip_back(i);  // on failure the stream's error() stops the loop
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
      if (!stream_.error().empty()) {
        // The look ahead could not come back: the analysis stops here
        // rather than go on from the loud sample it found.
        read_failed_ = true;
        end_ = quiet;
        return false;
      }
    }
    return true;
  }

  // next() into out[0], out[1], ... until the tone ends or `out` is full;
  // returns how many samples it read. The samples the stream holds already
  // are taken straight from it while each is loud, or quiet with its
  // silence test answered at once; any other goes through next().
  std::size_t next_many(std::span<double> out) {
    std::size_t got = 0;
    while (got < out.size()) {
      const std::span<const double> held = stream_.buffered();
      const std::size_t can = std::min(held.size(), out.size() - got);
      const std::uint64_t first = stream_.position();
      std::size_t i = 0;
      while (i < can &&
             (is_loud(held[i], threshold_) || silence_.answered_at(first + i + 1))) {
        out[got + i] = held[i];
        ++i;
      }
      stream_.consume(i);
      got += i;
      if (got == out.size()) break;
      if (!next(out[got])) break;
      ++got;
    }
    return got;
  }

  bool tone_ended() const { return break_found_ || read_failed_; }
  bool read_failed() const { return read_failed_; }
  // Samples left in the recording.
  std::uint64_t remaining() const { return stream_.remaining(); }
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


// Reads a tone's samples up to a set position (a followed tail's end)
// instead of up to a break.
class BoundedReader {
 public:
  BoundedReader(SampleStream& stream, std::uint64_t until) : stream_(stream), until_(until) {}

  bool next(double& value) {
    if (stream_.position() >= until_ || !stream_.read(value)) {
      ended_ = true;
      return false;
    }
    return true;
  }
  std::size_t next_many(std::span<double> out) {
    std::size_t got = 0;
    while (got < out.size() && next(out[got])) ++got;
    return got;
  }
  bool tone_ended() const { return ended_; }
  std::uint64_t remaining() const {
    return std::min(stream_.remaining(), until_ - std::min(until_, stream_.position()));
  }

 private:
  SampleStream& stream_;
  std::uint64_t until_;
  bool ended_ = false;
};

// What the passes of every tone share.
struct PassTools {
  PassTools(const AnalysisSettings& settings, Evaluation evaluation, bool one_thread)
      : block(static_cast<std::size_t>(settings.fft_size) + settings.fft_hop),
        frame_amplitudes(static_cast<std::size_t>(settings.harmonic_count) + 1),
        pitch_detector(evaluation),
        frame(evaluation) {
    if (one_thread) frame.use_one_thread();
  }
  std::vector<double> block;
  std::vector<double> frame_amplitudes;
  std::vector<double> kept;  // the pass's samples, for the partials analysis
  PartialsAnalyser partials;
  PitchDetector pitch_detector;
  HarmonicAccumulator frame;
  VoteChecker vote_checker;
};

// Cuts the tone that `reader` reads into passes until it ends, measures
// each and adds it to the totals. True when a pass was measured or failed
// (rather than cut short by the tone's end).
template <typename Reader>
bool measure_passes(Reader& reader, SampleStream& stream, const AnalysisSettings& settings,
                    const ToneLoopModes& modes, ToneListener& listener, PassTools& tools,
                    ToneTotals& totals) {
  const RobustSettings& robust = modes.settings;
  std::vector<double>& block = tools.block;
  std::vector<double>& frame_amplitudes = tools.frame_amplitudes;
  bool held = false;
  while (!reader.tone_ended()) {
    // The pitch block; one that is not full is never analysed.
    const std::uint64_t first = stream.position();
    reader.next_many(block);
    if (reader.tone_ended()) break;

    const PitchEstimate pitch = tools.pitch_detector.detect(
        block, settings.fft_size, settings.fft_hop, settings.sample_rate, settings.peak_threshold,
        settings.peak_count);
    if (pitch.status == PitchStatus::NoPeaks) {
      listener.pass_failed(first, PassFailure::no_peaks);
      held = true;
      continue;
    }
    double f0 = pitch.frequency;
    if (pitch.status != PitchStatus::Found || !std::isfinite(f0) || f0 <= 0.0) {
      listener.pass_failed(first, PassFailure::detection_error);
      held = true;
      continue;
    }
    if (robust.check_vote) {
      const CheckedVote checked = tools.vote_checker.check(
          block, tools.pitch_detector.magnitudes(), settings.fft_size, settings.fft_hop,
          settings.sample_rate, settings.peak_threshold, settings.peak_count, f0);
      listener.pass_vote_checked(first, f0, checked.outcome);
      if (checked.outcome == VoteOutcome::rejected) {
        listener.pass_failed(first, PassFailure::vote_rejected);
        held = true;
        continue;
      }
      f0 = checked.frequency;
    }
    if (modes.expected_hz > 0.0) {
      const std::optional<OctaveCheck> guarded =
          guard_octave(std::span<const double>(block).first(settings.fft_size),
                       tools.pitch_detector.magnitudes(), settings.fft_size,
                       settings.sample_rate, f0, modes.expected_hz);
      if (guarded) {
        listener.pass_octave_checked(first, *guarded);
        f0 = guarded->frequency;
      }
    }
    listener.pass_started(first, f0);

    // The DFT frame starts with the pitch block's first samples and goes
    // on with fresh ones; each sample is measured as it arrives, so the
    // frame is never held in memory, whatever its length. A frame longer
    // than what the reader can still give (the rest of the recording, or of
    // a followed tail) cannot be completed, so its samples are only read.
    HarmonicAccumulator& frame = tools.frame;
    frame.start(f0, settings);
    const std::uint64_t length = frame.length();
    const std::size_t from_block =
        static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), length));
    const bool completable = length - from_block <= reader.remaining();
    if (completable) frame.add(std::span<const double>(block.data(), from_block));
    // The partials analysis keeps the frame, made as long as it needs.
    const std::uint64_t kept_length =
        modes.partials ? std::max(length, partials_frame_length(f0, settings.sample_rate)) : 0;
    std::vector<double>& kept = tools.kept;
    kept.assign(block.begin(),
                block.begin() + static_cast<std::ptrdiff_t>(
                                    std::min<std::uint64_t>(block.size(), kept_length)));
    // The rest of the frame, read a piece at a time.
    std::array<double, 1024> piece;
    for (std::uint64_t i = from_block; i < length;) {
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), length - i));
      const std::size_t got = reader.next_many(std::span<double>(piece.data(), want));
      if (completable) frame.add(std::span<const double>(piece.data(), got));
      if (modes.partials) kept.insert(kept.end(), piece.begin(), piece.begin() + got);
      i += got;
      if (got < want) break;
    }
    if (reader.tone_ended()) break;  // the pass is dropped
    // What the partials analysis needs beyond the harmonics' frame; a tone
    // that ends before it leaves the pass without partials.
    for (std::uint64_t i = std::max<std::uint64_t>(length, block.size()); i < kept_length;) {
      const auto want =
          static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), kept_length - i));
      const std::size_t got = reader.next_many(std::span<double>(piece.data(), want));
      kept.insert(kept.end(), piece.begin(), piece.begin() + got);
      i += got;
      if (got < want) break;
    }

    frame.amplitudes(frame_amplitudes);
    listener.pass_measured(first, f0, frame_amplitudes);
    if (modes.partials) {
      listener.pass_partials(first,
                             tools.partials.analyse(kept, first, f0, settings.sample_rate,
                                                    static_cast<int>(settings.harmonic_count) + 1));
    }
    totals.add_pass(f0, frame_amplitudes);
    held = true;
  }
  return held;
}

// Whether a tone too short for one pass is analysed again.
bool retries_short_tones(const RobustSettings& robust) {
  return robust.follow_tail || robust.short_attack || robust.short_frames;
}

// Moves the stream to `target`, back or ahead.
bool move_to(SampleStream& stream, std::uint64_t target) {
  const std::uint64_t at = stream.position();
  return target <= at ? stream.skip_back(at - target) : stream.skip_forward(target - at);
}

// A tone that ended at `end` before it held one pass, analysed again over
// its tail and with a shorter attack skip as the robust settings allow. The
// stream stands at `resume`, where the tone loop goes on; it is left there
// or, after a tail that reaches further, where the tail ends (the samples
// between are all below the threshold, so no tone starts in them).
// The settings for measuring a tone whose analysed stretch holds `room`
// samples, none when even the smallest pass does not fit: the largest
// pitch FFT whose block fits (with a hop of at most a quarter of it), and a
// frame that leaves room for its extension, never below
// shortest_frame_seconds. The frame still holds the fewest cycles the
// settings ask of each frequency, so a low tone's pass may not fit after
// all: what its pitch allows decides.
std::optional<AnalysisSettings> short_frame_settings(const AnalysisSettings& settings,
                                                     std::uint64_t room) {
  const std::uint32_t rate = settings.sample_rate;
  for (auto size = fft_sizes.rbegin(); size != fft_sizes.rend(); ++size) {
    if (*size > settings.fft_size) continue;
    const std::uint32_t hop = std::min(settings.fft_hop, *size / 4);
    if (std::uint64_t{*size} + hop > room) continue;
    const double seconds = static_cast<double>(room) / rate - settings.max_extra_seconds;
    if (seconds < shortest_frame_seconds) return std::nullopt;
    AnalysisSettings shorter = settings;
    shorter.fft_size = *size;
    shorter.fft_hop = hop;
    shorter.min_tone_seconds = std::min(settings.min_tone_seconds, seconds);
    return shorter;
  }
  return std::nullopt;
}

void analyse_short_tone(SampleStream& stream, std::uint64_t start, std::uint64_t end,
                        const AnalysisSettings& settings, const ToneLoopModes& robust,
                        ToneListener& listener, PassTools& tools, ToneTotals& totals,
                        Evaluation evaluation, bool one_thread) {
  const std::uint64_t resume = stream.position();
  const std::uint32_t rate = settings.sample_rate;
  const std::uint64_t attack = duration_samples(rate, settings.attack_seconds);
  // A pass reads its pitch block and a DFT frame that starts with it.
  const std::uint64_t need = std::max<std::uint64_t>(
      tools.block.size(), std::uint64_t{duration_samples(rate, settings.min_tone_seconds)} +
                              duration_samples(rate, settings.max_extra_seconds));
  std::uint64_t until = end;
  if (robust.settings.follow_tail) {
    if (!move_to(stream, start)) return;  // the stream's error() stops the loop
    double attack_peak = 0.0;
    double sample = 0.0;
    while (stream.position() < std::min(end, start + 1 + attack) && stream.read(sample)) {
      attack_peak = std::max(attack_peak, std::fabs(sample));
    }
    const double floor =
        std::max(attack_peak * std::pow(10.0, -robust.settings.tail_depth_db / 20.0),
                 2.0 * robust.noise_floor);
    if (stream.position() < end) stream.skip_forward(end - stream.position());
    // Block by block of 10 ms, until a block's peak falls below the floor
    // or the next tone starts.
    const std::uint64_t block = std::max<std::uint32_t>(1, rate / 100);
    const std::uint64_t margin = duration_samples(rate, tail_margin_seconds);
    until = stream.position();
    for (bool going = true; going;) {
      const std::uint64_t block_start = stream.position();
      double peak = 0.0;
      std::uint64_t read = 0;
      for (; read < block && stream.read(sample); ++read) {
        if (sample > settings.silence_threshold) {
          const std::uint64_t onset = stream.position() - 1;
          until = std::max(end, onset > margin ? onset - margin : 0);
          going = false;
          break;
        }
        peak = std::max(peak, std::fabs(sample));
      }
      if (!going) break;
      if (read < block) {
        until = stream.position();  // the recording's end
        break;
      }
      if (peak < floor) {
        until = block_start;
        break;
      }
      until = stream.position();
    }
  }
  std::uint64_t attack_end = start + 1 + attack;
  if (robust.settings.short_attack && until > start + 1 && until - (start + 1) < attack + need) {
    const std::uint64_t shortest = duration_samples(rate, shortest_attack_seconds);
    const std::uint64_t room = until - (start + 1);
    const std::uint64_t shortened = std::max(shortest, room > need ? room - need : 0);
    attack_end = start + 1 + std::min(attack, shortened);
  }
  if (until > attack_end && until - attack_end >= need) {
    if (!move_to(stream, attack_end)) return;  // the stream's error() stops the loop
    listener.tone_span(attack_end, until);
    BoundedReader reader(stream, until);
    measure_passes(reader, stream, settings, robust, listener, tools, totals);
  } else if (robust.settings.short_frames && until > attack_end) {
    const std::optional<AnalysisSettings> shorter =
        short_frame_settings(settings, until - attack_end);
    if (shorter) {
      if (!move_to(stream, attack_end)) return;  // the stream's error() stops the loop
      listener.tone_span(attack_end, until);
      listener.tone_frame(shorter->fft_size, shorter->fft_hop, shorter->min_tone_seconds);
      PassTools short_tools(*shorter, evaluation, one_thread);
      BoundedReader reader(stream, until);
      measure_passes(reader, stream, *shorter, robust, listener, short_tools, totals);
    }
  }
  if (stream.position() < resume) move_to(stream, resume);
}

}  // namespace

std::string analyse_tones(SampleSource& source, const AnalysisSettings& settings,
                          ToneListener& listener, Evaluation evaluation, bool one_thread) {
  return analyse_tones(source, settings, ToneLoopModes{}, listener, evaluation, one_thread);
}

std::string analyse_tones(SampleSource& source, const AnalysisSettings& settings,
                          const ToneLoopModes& robust, ToneListener& listener,
                          Evaluation evaluation, bool one_thread) {
  ToneTotals totals;
  SilenceTest silence(settings);
  // The silence test looks ahead at most its own length and then returns.
  SampleStream stream(source, silence.length());
  ToneReader reader(stream, silence, settings.silence_threshold);
  PassTools tools(settings, evaluation, one_thread);
  const std::uint32_t attack = duration_samples(settings.sample_rate, settings.attack_seconds);
  const bool retry_short = retries_short_tones(robust.settings);

  while (wait_for_tone(stream, settings.silence_threshold)) {
    const std::uint64_t start = stream.position() - 1;
    if (!stream.skip_forward(attack)) break;  // no line for a tone cut in its attack
    listener.tone_started(start);
    totals.reset(settings.harmonic_count);
    reader.start_tone();

    const bool held =
        measure_passes(reader, stream, settings, robust, listener, tools, totals);
    if (retry_short && !held && !reader.read_failed()) {
      analyse_short_tone(stream, start, reader.end(), settings, robust, listener, tools, totals,
                         evaluation, one_thread);
    }

    listener.tone_ended(reader.end(), totals);
    if (reader.read_failed() || !stream.error().empty()) break;
  }
  return stream.error().empty() ? source.error() : stream.error();
}

std::string analyse_span(SampleSource& source, std::uint64_t from, std::uint64_t until,
                         const AnalysisSettings& settings, const ToneLoopModes& modes,
                         ToneListener& listener, Evaluation evaluation, bool one_thread) {
  // The stream counts from the recording's first sample, as the tone loop's
  // does, so that the events' positions are the recording's.
  if (!source.seek(0)) {
    return source.error().empty() ? "could not go back in the recording" : source.error();
  }
  PassTools tools(settings, evaluation, one_thread);
  SampleStream stream(source, tools.block.size());
  ToneTotals totals;
  totals.reset(settings.harmonic_count);
  listener.tone_started(from);
  // The passes start where the tone loop's would: after the attack skip
  // that follows the first loud sample.
  const std::uint64_t attack_end =
      from + 1 + duration_samples(settings.sample_rate, settings.attack_seconds);
  bool held = false;
  if (attack_end < until && stream.skip_forward(attack_end)) {
    BoundedReader reader(stream, until);
    held = measure_passes(reader, stream, settings, modes, listener, tools, totals);
  }
  const bool retry_short = retries_short_tones(modes.settings);
  if (retry_short && !held && stream.error().empty() && source.error().empty()) {
    analyse_short_tone(stream, from, until, settings, modes, listener, tools, totals, evaluation,
                       one_thread);
  }
  listener.tone_ended(until, totals);
  return stream.error().empty() ? source.error() : stream.error();
}

}  // namespace toneprint
