#include "analysis/legato_split.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <limits>
#include <numbers>
#include <optional>
#include <span>
#include <utility>

#include "analysis/pitch_detection.h"
#include "analysis/robust_settings.h"

namespace toneprint {
namespace {

constexpr double not_found = std::numeric_limits<double>::quiet_NaN();

double cents_of(double hz) { return 1200.0 * std::log2(hz / 440.0); }
double hz_of(double cents) { return 440.0 * std::exp2(cents / 1200.0); }

std::string read_error(const SampleSource& source) {
  return source.error().empty() ? "could not go back in the recording to split notes played legato"
                                : source.error();
}

// Fills `out` from the source; false when it ended first.
bool read_exactly(SampleSource& source, std::span<double> out) {
  return source.read(out) == out.size();
}

// One point of the followed pitch: the middle of its block, and its pitch
// in cents from A4 (not a number where the block gave none).
struct TrackPoint {
  std::uint64_t centre = 0;
  double cents = not_found;
};

// The pitch of each block of fft_size + fft_hop samples in [from, until),
// one every `step` samples: the vote every pass takes on its block. The
// robust mode's check of it is left out: a level's trimmed mean copes with
// a stray octave, and the check's rejections leave gaps just where the
// notes change.
std::vector<TrackPoint> follow_pitch(SampleSource& source, std::uint64_t from,
                                     std::uint64_t until, std::uint64_t step,
                                     const AnalysisSettings& settings, Evaluation evaluation,
                                     std::string& error) {
  std::vector<TrackPoint> track;
  const std::size_t size = std::size_t{settings.fft_size} + settings.fft_hop;
  if (until <= from || until - from < size) return track;
  if (!source.seek(from)) {
    error = read_error(source);
    return track;
  }
  std::vector<double> block(size);
  std::vector<double> skipped;
  PitchDetector detector(evaluation);
  if (!read_exactly(source, block)) {
    error = read_error(source);
    return track;
  }
  for (std::uint64_t first = from;; first += step) {
    const PitchEstimate pitch =
        detector.detect(block, settings.fft_size, settings.fft_hop, settings.sample_rate,
                        settings.peak_threshold, settings.peak_count);
    const double f0 = pitch.status == PitchStatus::Found ? pitch.frequency : 0.0;
    track.push_back({first + size / 2, f0 > 0.0 && std::isfinite(f0) ? cents_of(f0) : not_found});
    if (first + step + size > until) break;
    // The next block: what this one holds of it, then fresh samples.
    bool read = true;
    if (step < size) {
      const auto kept = static_cast<std::ptrdiff_t>(step);
      std::copy(block.begin() + kept, block.end(), block.begin());
      read = read_exactly(source, std::span<double>(block).subspan(size - step));
    } else {
      skipped.resize(static_cast<std::size_t>(step - size));
      read = read_exactly(source, skipped) && read_exactly(source, block);
    }
    if (!read) {
      error = read_error(source);
      return {};
    }
  }
  return track;
}

// The pitch of points [first, last): the mean of those within 100 cents of
// their median, so that a stray octave does not move it; none with fewer
// than half the points found.
std::optional<double> level(const std::vector<TrackPoint>& track, std::size_t first,
                            std::size_t last) {
  std::vector<double> found;
  for (std::size_t i = first; i < last; ++i) {
    if (!std::isnan(track[i].cents)) found.push_back(track[i].cents);
  }
  if (found.empty() || 2 * found.size() < last - first) return std::nullopt;
  std::sort(found.begin(), found.end());
  const std::size_t middle = found.size() / 2;
  const double median =
      found.size() % 2 == 1 ? found[middle] : 0.5 * (found[middle - 1] + found[middle]);
  double sum = 0.0;
  double count = 0.0;
  for (const double c : found) {
    if (std::fabs(c - median) <= 100.0) {
      sum += c;
      count += 1.0;
    }
  }
  return sum / count;
}

// The level of a stretch of the note's samples at harmonics of `hz`: the
// Hann-windowed transform at each harmonic below the Nyquist limit that
// lies clear of `other`'s harmonics (where the window cannot tell the two
// apart), summed in power.
double harmonic_level(std::span<const double> samples, double hz, double other,
                      std::uint32_t rate) {
  const double n = static_cast<double>(samples.size());
  const double lobe = 2.0 * rate / n;  // the window's main lobe, either side
  double power = 0.0;
  for (int h = 1; h <= 4; ++h) {
    const double f = h * hz;
    if (f >= 0.5 * rate) break;
    bool clear = true;
    for (int m = 1; m <= 6 && clear; ++m) clear = std::fabs(m * other - f) > lobe;
    if (!clear) continue;
    const std::complex<double> turn = std::polar(1.0, -2.0 * std::numbers::pi * f / rate);
    const std::complex<double> window_turn = std::polar(1.0, 2.0 * std::numbers::pi / n);
    std::complex<double> rotation = 1.0;
    std::complex<double> window = 1.0;
    std::complex<double> sum = 0.0;
    for (const double sample : samples) {
      sum += rotation * (sample * (1.0 - window.real()));
      rotation *= turn;
      window *= window_turn;
    }
    power += std::norm(sum);
  }
  return std::sqrt(power);
}

// The sample, within [low, high], at which a note at `before` Hz gives way
// to one at `after` Hz: where a short window's level at the second note's
// harmonics, against its largest, overtakes the first's. The window is as
// short as can still tell apart frequencies half the fundamentals' distance
// apart, as the harmonics of notes a fifth apart are. `coarse` when no such
// crossing is found.
std::uint64_t locate_change(SampleSource& source, std::uint64_t coarse, std::uint64_t low,
                            std::uint64_t high, double before, double after,
                            std::uint32_t rate, std::string& error) {
  const double apart = std::fabs(after - before);
  const auto length = static_cast<std::uint64_t>(
      std::clamp(4.0 * rate / apart, 0.02 * rate, 0.25 * rate));
  const std::uint64_t half = length / 2;
  if (low < half) low = half;
  if (high <= low) return coarse;
  std::vector<double> samples(static_cast<std::size_t>(high - low + length));
  if (!source.seek(low - half) || !read_exactly(source, samples)) {
    error = read_error(source);
    return coarse;
  }
  const std::uint64_t step = std::max<std::uint64_t>(1, rate / 200);
  std::vector<std::uint64_t> centres;
  std::vector<double> first;
  std::vector<double> second;
  for (std::uint64_t centre = low; centre <= high; centre += step) {
    const std::span<const double> window(samples.data() + (centre - low),
                                         static_cast<std::size_t>(length));
    centres.push_back(centre);
    first.push_back(harmonic_level(window, before, after, rate));
    second.push_back(harmonic_level(window, after, before, rate));
  }
  const double first_peak = *std::max_element(first.begin(), first.end());
  const double second_peak = *std::max_element(second.begin(), second.end());
  if (!(first_peak > 0.0 && second_peak > 0.0)) return coarse;
  // The crossing nearest the coarse change, between two windows.
  std::uint64_t best = coarse;
  std::uint64_t best_distance = std::numeric_limits<std::uint64_t>::max();
  for (std::size_t i = 1; i < centres.size(); ++i) {
    const double a = second[i - 1] / second_peak - first[i - 1] / first_peak;
    const double b = second[i] / second_peak - first[i] / first_peak;
    if (!(a < 0.0 && b >= 0.0)) continue;
    const double t = a / (a - b);
    const auto at = centres[i - 1] + static_cast<std::uint64_t>(std::lround(t * step));
    const std::uint64_t distance = at > coarse ? at - coarse : coarse - at;
    if (distance < best_distance) {
      best = at;
      best_distance = distance;
    }
  }
  return best;
}

}  // namespace

bool passes_disagree(const ToneRecord& tone) {
  double lowest = std::numeric_limits<double>::infinity();
  double highest = 0.0;
  for (const MeasuredPass& pass : tone.passes) {
    lowest = std::min(lowest, pass.fundamental);
    highest = std::max(highest, pass.fundamental);
  }
  return highest > 0.0 && cents_of(highest) - cents_of(lowest) > agreement_cents;
}

std::vector<std::uint64_t> legato_changes(SampleSource& source, std::uint64_t from,
                                          std::uint64_t until, const AnalysisSettings& settings,
                                          Evaluation evaluation, std::string& error) {
  const std::uint32_t rate = settings.sample_rate;
  const std::uint64_t step = std::max<std::uint32_t>(1, duration_samples(rate, legato_step_seconds));
  const std::uint64_t onset = duration_samples(rate, shortest_attack_seconds);
  const std::vector<TrackPoint> track = follow_pitch(
      source, std::min(until, from + 1 + onset), until, step, settings, evaluation, error);
  const std::size_t width = std::max<std::size_t>(
      2, static_cast<std::size_t>(std::lround(legato_window_seconds / legato_step_seconds)));
  if (track.size() < 2 * width) return {};

  // The change between each point and the one before, over the windows
  // either side; a change of note is the largest within a window's reach.
  std::vector<double> change(track.size(), 0.0);
  for (std::size_t i = width; i + width <= track.size(); ++i) {
    const std::optional<double> left = level(track, i - width, i);
    const std::optional<double> right = level(track, i, i + width);
    if (left && right) change[i] = *right - *left;
  }
  std::vector<std::size_t> bounds;  // each segment's first point; the first is 0
  bounds.push_back(0);
  for (std::size_t i = width; i + width <= track.size(); ++i) {
    const double size = std::fabs(change[i]);
    if (size <= agreement_cents) continue;
    // The largest within reach; of equal ones, the first.
    const std::size_t last = std::min(i + width, track.size() - 1);
    bool largest = true;
    for (std::size_t j = i - width; j <= last && largest; ++j) {
      largest = std::fabs(change[j]) < size || (std::fabs(change[j]) == size && j >= i);
    }
    if (largest) bounds.push_back(i);
  }
  if (bounds.size() < 2) return {};

  // Each change lies between the middles of the blocks either side of it.
  const auto at = [&](std::size_t bound) {
    return bound == 0 ? from : (track[bound - 1].centre + track[bound].centre) / 2;
  };
  const auto end_of = [&](std::size_t k) { return k + 1 < bounds.size() ? at(bounds[k + 1]) : until; };
  const auto segment_level = [&](std::size_t k) {
    return level(track, bounds[k], k + 1 < bounds.size() ? bounds[k + 1] : track.size());
  };
  // A note holds long enough for its own attack skip and a pass; a shorter
  // one strays, and joins the neighbour nearest its pitch.
  const std::uint64_t shortest =
      onset + std::max<std::uint64_t>(duration_samples(rate, settings.min_tone_seconds),
                                      std::uint64_t{settings.fft_size} + settings.fft_hop);
  while (bounds.size() > 1) {
    std::size_t brief = bounds.size();
    std::uint64_t briefest = shortest;
    for (std::size_t k = 0; k < bounds.size(); ++k) {
      const std::uint64_t length = end_of(k) - at(bounds[k]);
      if (length < briefest) {
        brief = k;
        briefest = length;
      }
    }
    if (brief == bounds.size()) break;
    // Which neighbour it joins: the one whose pitch is nearer, the only one
    // at either end.
    std::size_t drop = brief == 0 ? 1 : brief;  // the bound removed
    if (brief > 0 && brief + 1 < bounds.size()) {
      const std::optional<double> own = segment_level(brief);
      const std::optional<double> before = segment_level(brief - 1);
      const std::optional<double> after = segment_level(brief + 1);
      if (own && before && after && std::fabs(*after - *own) < std::fabs(*before - *own)) {
        drop = brief + 1;
      }
    }
    bounds.erase(bounds.begin() + static_cast<std::ptrdiff_t>(drop));
  }
  // Neighbours that hold the same note are one.
  for (std::size_t k = 1; k < bounds.size();) {
    const std::optional<double> before = segment_level(k - 1);
    const std::optional<double> after = segment_level(k);
    if (before && after && std::fabs(*after - *before) > agreement_cents) {
      ++k;
    } else {
      bounds.erase(bounds.begin() + static_cast<std::ptrdiff_t>(k));
    }
  }

  // Each change found to within a window or so (a slow bow or a vibrato
  // moves it), then located more closely from the two notes' harmonics,
  // within a window of it and the third of each note nearest it.
  std::vector<std::uint64_t> changes;
  for (std::size_t k = 1; k < bounds.size(); ++k) {
    const std::uint64_t coarse = at(bounds[k]);
    const std::uint64_t reach = width * step;
    const std::uint64_t before_start = changes.empty() ? from : changes.back();
    const std::uint64_t low =
        std::max({coarse > reach ? coarse - reach : 0, coarse - (coarse - before_start) / 3});
    const std::uint64_t high = std::min(coarse + reach, coarse + (end_of(k) - coarse) / 3);
    const std::uint64_t located =
        locate_change(source, coarse, low, high, hz_of(*segment_level(k - 1)),
                      hz_of(*segment_level(k)), rate, error);
    if (!error.empty()) return {};
    changes.push_back(located);
  }
  return changes;
}

std::string split_legato(SampleSource& source, const AnalysisSettings& settings,
                         const ToneLoopModes& modes, bool consensus,
                         std::vector<ToneRecord>& tones, Evaluation evaluation,
                         bool one_thread) {
  std::vector<ToneRecord> split;
  split.reserve(tones.size());
  std::string error;
  for (std::size_t i = 0; i < tones.size(); ++i) {
    ToneRecord& tone = tones[i];
    std::vector<std::uint64_t> changes;
    if (error.empty() && passes_disagree(tone)) {
      changes = legato_changes(source, tone.start, tone.end, settings, evaluation, error);
    }
    if (changes.empty() || !error.empty()) {
      split.push_back(std::move(tone));
      continue;
    }
    // The first note keeps the tone's attack skip; the others, joined to
    // the note before, start at once and skip only what a change needs.
    ToneCollector collector(consensus, settings.sample_rate);
    AnalysisSettings joined = settings;
    joined.attack_seconds = std::min(settings.attack_seconds, shortest_attack_seconds);
    for (std::size_t k = 0; k <= changes.size() && error.empty(); ++k) {
      const std::uint64_t from = k == 0 ? tone.start : changes[k - 1];
      const std::uint64_t until = k < changes.size() ? changes[k] : tone.end;
      error = analyse_span(source, from, until, k == 0 ? settings : joined, modes, collector,
                           evaluation, one_thread);
    }
    if (!error.empty()) {
      split.push_back(std::move(tone));
      continue;
    }
    for (ToneRecord& note : collector.tones()) {
      note.split_from = i + 1;
      split.push_back(std::move(note));
    }
  }
  tones = std::move(split);
  return error;
}

}  // namespace toneprint
