#include "analysis/tone_results.h"

#include <array>
#include <cmath>
#include <utility>

namespace toneprint {

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
  return measured() ? totals.frequency_sum / totals.frame_count : 0.0;
}

std::optional<double> ToneRecord::harmonic(std::size_t k) const {
  if (!measured() || k >= totals.amplitude_sums.size() || totals.amplitude_sums[k] < 0.0) {
    return std::nullopt;
  }
  return totals.amplitude_sums[k] / totals.frame_count;
}

double ToneRecord::spread_cents() const {
  if (passes.empty()) return 0.0;
  const double mean = frequency();
  double sum = 0.0;
  double squares = 0.0;
  for (const MeasuredPass& pass : passes) {
    const double c = 1200.0 * std::log2(pass.fundamental / mean);
    sum += c;
    squares += c * c;
  }
  const double n = static_cast<double>(passes.size());
  const double variance = squares / n - (sum / n) * (sum / n);
  return variance > 0.0 ? std::sqrt(variance) : 0.0;
}

void ToneCollector::tone_started(std::uint64_t start) {
  current_ = ToneRecord{};
  current_.start = start;
}

void ToneCollector::pass_measured(std::uint64_t first, double f0,
                                  std::span<const double> amplitudes) {
  current_.passes.push_back({first, f0, std::vector<double>(amplitudes.begin(), amplitudes.end())});
}

void ToneCollector::pass_failed(std::uint64_t first, PassFailure failure,
                                std::string_view message) {
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
    message.remove_suffix(1);
  }
  current_.failures.push_back({first, failure, std::string(message)});
}

void ToneCollector::tone_ended(std::uint64_t end, const ToneTotals& totals) {
  current_.end = end;
  current_.totals = totals;
  tones_.push_back(std::move(current_));
  current_ = ToneRecord{};
}

}  // namespace toneprint
