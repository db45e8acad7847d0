#include "analysis/tone_results.h"

#include <array>
#include <cmath>
#include <optional>
#include <utility>

#include "analysis/partial_analysis.h"
#include "analysis/robust_settings.h"

namespace toneprint {

void ToneTotals::reset(std::uint32_t harmonic_count) {
  frequency_sum = 0.0;
  pass_count = 0;
  max_fundamental_amplitude = 0.0;
  amplitude_sums.assign(static_cast<std::size_t>(harmonic_count) + 1, 0.0);
  measured_counts.assign(amplitude_sums.size(), 0);
}

void ToneTotals::add_pass(double f0, std::span<const double> amplitudes) {
  for (std::size_t k = 0; k < amplitudes.size() && k < amplitude_sums.size(); ++k) {
    if (amplitudes[k] < 0.0) continue;  // above the Nyquist limit in this pass
    amplitude_sums[k] += amplitudes[k];
    measured_counts[k] += 1;
  }
  frequency_sum += f0;
  pass_count += 1;
  if (!amplitudes.empty() && amplitudes[0] > max_fundamental_amplitude) {
    max_fundamental_amplitude = amplitudes[0];
  }
}

std::optional<double> ToneTotals::mean_amplitude(std::size_t k) const {
  if (k >= measured_counts.size() || k >= amplitude_sums.size() || measured_counts[k] == 0) {
    return std::nullopt;
  }
  return amplitude_sums[k] / measured_counts[k];
}

const char* failure_name(PassFailure failure) {
  switch (failure) {
    case PassFailure::detection_error: return "detection error";
    case PassFailure::vote_rejected: return "vote rejected";
    case PassFailure::no_peaks: break;
  }
  return "no peaks";
}

std::string note_name(int midi) {
  static constexpr std::array<const char*, 12> names = {"C",  "C#", "D",  "D#", "E",  "F",
                                                        "F#", "G",  "G#", "A",  "A#", "B"};
  const int octave = (midi >= 0 ? midi / 12 : -((11 - midi) / 12)) - 1;
  const int step = midi - (octave + 1) * 12;
  return std::string(names[static_cast<std::size_t>(step)]) + std::to_string(octave);
}

NearestNote nearest_note(double frequency, double a4) {
  const double semitones = 12.0 * std::log2(frequency / a4);
  NearestNote note;
  note.midi = 69 + static_cast<int>(std::lround(semitones));
  note.name = note_name(note.midi);
  note.cents = 100.0 * (semitones - static_cast<double>(note.midi - 69));
  return note;
}

double ToneRecord::frequency() const {
  if (partials) return partials->frequency;
  return measured() ? totals.frequency_sum / totals.pass_count : 0.0;
}

std::optional<double> ToneRecord::harmonic(std::size_t k) const { return totals.mean_amplitude(k); }

double ToneRecord::spread_cents() const {
  if (totals.pass_count == 0) return 0.0;
  const double mean = frequency();
  double sum = 0.0;
  double squares = 0.0;
  double n = 0.0;
  for (const MeasuredPass& pass : passes) {
    if (!pass.used) continue;
    n += 1.0;
    const double c = 1200.0 * std::log2(pass.fundamental / mean);
    sum += c;
    squares += c * c;
  }
  const double variance = squares / n - (sum / n) * (sum / n);
  return variance > 0.0 ? std::sqrt(variance) : 0.0;
}

void keep_consensus(ToneRecord& tone) {
  const std::size_t count = tone.passes.size();
  if (count < 2) return;
  const auto cents = [&](std::size_t i, std::size_t j) {
    return std::fabs(1200.0 * std::log2(tone.passes[i].fundamental / tone.passes[j].fundamental));
  };
  std::size_t best = 0;
  std::size_t best_neighbours = 0;
  double best_distance = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t neighbours = 0;
    double distance = 0.0;
    for (std::size_t j = 0; j < count; ++j) {
      if (cents(i, j) <= agreement_cents) {
        ++neighbours;
        distance += cents(i, j);
      }
    }
    if (neighbours > best_neighbours ||
        (neighbours == best_neighbours && distance < best_distance)) {
      best = i;
      best_neighbours = neighbours;
      best_distance = distance;
    }
  }
  if (best_neighbours == count) return;  // every pass agrees: the totals stand

  ToneTotals totals;
  totals.reset(static_cast<std::uint32_t>(tone.totals.amplitude_sums.size() - 1));
  for (std::size_t i = 0; i < count; ++i) {
    MeasuredPass& pass = tone.passes[i];
    pass.used = cents(i, best) <= agreement_cents;
    if (pass.used) totals.add_pass(pass.fundamental, pass.amplitudes);
  }
  tone.totals = totals;
}

void ToneCollector::tone_started(std::uint64_t start) {
  current_ = ToneRecord{};
  current_.start = start;
}

void ToneCollector::pass_measured(std::uint64_t first, double f0,
                                  std::span<const double> amplitudes) {
  MeasuredPass pass;
  pass.first = first;
  pass.fundamental = f0;
  pass.amplitudes.assign(amplitudes.begin(), amplitudes.end());
  if (vote_first_ == first) {
    pass.vote = vote_;
    pass.voted = voted_;
  }
  if (octave_ && octave_first_ == first) pass.octave = octave_;
  current_.passes.push_back(std::move(pass));
}

void ToneCollector::pass_vote_checked(std::uint64_t first, double voted, VoteOutcome outcome) {
  vote_first_ = first;
  voted_ = voted;
  vote_ = outcome;
}

void ToneCollector::pass_octave_checked(std::uint64_t first, const OctaveCheck& check) {
  octave_first_ = first;
  octave_ = check;
}

void ToneCollector::pass_partials(std::uint64_t first, std::optional<PassPartials>&& partials) {
  if (!current_.passes.empty() && current_.passes.back().first == first) {
    current_.passes.back().partials = std::move(partials);
  }
}

void ToneCollector::tone_span(std::uint64_t attack_end, std::uint64_t until) {
  current_.analysed_from = attack_end;
  current_.analysed_until = until;
}

void ToneCollector::tone_frame(std::uint32_t fft_size, std::uint32_t fft_hop,
                               double frame_seconds) {
  current_.short_frame = ToneRecord::ShortFrame{fft_size, fft_hop, frame_seconds};
}

void ToneCollector::pass_failed(std::uint64_t first, PassFailure failure) {
  current_.failures.push_back({first, failure});
}

void ToneCollector::tone_ended(std::uint64_t end, const ToneTotals& totals) {
  current_.end = end;
  current_.totals = totals;
  if (consensus_) keep_consensus(current_);
  std::vector<const PassPartials*> used;
  for (const MeasuredPass& pass : current_.passes) {
    if (pass.used && pass.partials) used.push_back(&*pass.partials);
  }
  if (!used.empty()) current_.partials = summarise_partials(used, sample_rate_);
  tones_.push_back(std::move(current_));
  current_ = ToneRecord{};
}

}  // namespace toneprint
