#include "analysis/comparison.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

#include "analysis/expectations.h"

namespace toneprint {
namespace {

// The level of an amplitude in dB of `reference`; none where either is not
// there (not measured, not finite, not above amplitude_floor).
std::optional<double> level_db(const std::optional<double>& amplitude, double reference) {
  if (!amplitude || !std::isfinite(*amplitude) || !(*amplitude > amplitude_floor) ||
      !std::isfinite(reference) || !(reference > amplitude_floor)) {
    return std::nullopt;
  }
  return 20.0 * std::log10(*amplitude / reference);
}

// Gathers values and gives their mean and population standard deviation.
class Values {
 public:
  void add(const std::optional<double>& value) {
    if (value && std::isfinite(*value)) values_.push_back(*value);
  }
  std::optional<Spread> spread() const {
    if (values_.empty()) return std::nullopt;
    const double n = static_cast<double>(values_.size());
    Spread s;
    s.mean = std::accumulate(values_.begin(), values_.end(), 0.0) / n;
    const double squares =
        std::accumulate(values_.begin(), values_.end(), 0.0, [&s](double sum, double v) {
          return sum + (v - s.mean) * (v - s.mean);
        });
    s.spread = std::sqrt(squares / n);
    s.count = values_.size();
    return s;
  }

 private:
  std::vector<double> values_;
};

// What is summed over a group of tones: per harmonic, the absolute and
// relative levels, and the tone's other numbers.
struct Gathered {
  std::size_t tones = 0;
  std::vector<Values> level, relative;
  Values deviation, centroid_harmonic, centroid_hz, odd_even, t1, t2, t3, slope;

  void add(const ComparedTone& tone) {
    ++tones;
    if (level.size() < tone.amplitudes.size()) {
      level.resize(tone.amplitudes.size());
      relative.resize(tone.amplitudes.size());
    }
    const std::optional<double> first =
        tone.amplitudes.empty() ? std::nullopt : tone.amplitudes.front();
    for (std::size_t i = 0; i < tone.amplitudes.size(); ++i) {
      level[i].add(level_db(tone.amplitudes[i], full_scale));
      relative[i].add(first ? level_db(tone.amplitudes[i], *first) : std::nullopt);
    }
    deviation.add(tone.deviation_cents);
    if (tone.descriptors) {
      const TimbreDescriptors& d = *tone.descriptors;
      centroid_harmonic.add(d.centroid_harmonic);
      centroid_hz.add(d.centroid_hz);
      odd_even.add(d.odd_even_db);
      t1.add(d.t1);
      t2.add(d.t2);
      t3.add(d.t3);
      slope.add(d.slope_db_per_octave);
    }
  }

  static std::vector<std::optional<Spread>> spreads(const std::vector<Values>& values) {
    std::vector<std::optional<Spread>> result(values.size());
    std::transform(values.begin(), values.end(), result.begin(),
                   [](const Values& v) { return v.spread(); });
    return result;
  }

  void fill(ToneSpreads& summary) const {
    summary.level_dbfs = spreads(level);
    summary.relative_db = spreads(relative);
    summary.deviation_cents = deviation.spread();
    summary.centroid_harmonic = centroid_harmonic.spread();
    summary.centroid_hz = centroid_hz.spread();
    summary.odd_even_db = odd_even.spread();
    summary.t1 = t1.spread();
    summary.t2 = t2.spread();
    summary.t3 = t3.spread();
    summary.slope_db_per_octave = slope.spread();
  }
};

// The least-squares line through (note, level); none with fewer than two
// distinct notes.
std::optional<TrendLine> trend(const std::vector<std::pair<int, double>>& points) {
  if (points.size() < 2) return std::nullopt;
  const double n = static_cast<double>(points.size());
  double sx = 0.0;
  double sy = 0.0;
  for (const auto& [x, y] : points) {
    sx += x;
    sy += y;
  }
  const double mx = sx / n;
  const double my = sy / n;
  double sxx = 0.0;
  double sxy = 0.0;
  for (const auto& [x, y] : points) {
    sxx += (x - mx) * (x - mx);
    sxy += (x - mx) * (y - my);
  }
  if (!(sxx > 0.0)) return std::nullopt;
  const double per_note = sxy / sxx;
  TrendLine line;
  line.slope_db_per_octave = per_note * 12.0;
  line.intercept_db = my - per_note * mx;
  line.notes = points.size();
  return line;
}

std::optional<double> difference(const std::vector<std::optional<Spread>>& set,
                                 const std::vector<std::optional<Spread>>& reference,
                                 std::size_t i) {
  if (i >= set.size() || i >= reference.size() || !set[i] || !reference[i]) return std::nullopt;
  return set[i]->mean - reference[i]->mean;
}

}  // namespace

Comparison compare_sets(const std::vector<ComparisonSet>& sets) {
  Comparison comparison;
  // Per note, per set: the set's tones of it.
  std::map<int, std::vector<Gathered>> notes;
  for (std::size_t s = 0; s < sets.size(); ++s) {
    Gathered all;
    for (const ComparedTone& tone : sets[s].tones) {
      std::vector<Gathered>& per_set = notes[tone.note];
      per_set.resize(sets.size());
      per_set[s].add(tone);
      all.add(tone);
      comparison.harmonics = std::max(comparison.harmonics, tone.amplitudes.size());
    }
    SetSummary summary;
    summary.name = sets[s].name;
    summary.tones = all.tones;
    all.fill(summary);
    comparison.sets.push_back(std::move(summary));
  }

  // Each note's trend points, per set and harmonic.
  std::vector<std::vector<std::vector<std::pair<int, double>>>> points(
      sets.size(), std::vector<std::vector<std::pair<int, double>>>(trend_harmonics));
  for (const auto& [note, per_set] : notes) {
    ComparedNote compared;
    compared.note = note;
    compared.sets.resize(sets.size());
    std::size_t having = 0;
    for (std::size_t s = 0; s < sets.size(); ++s) {
      if (per_set[s].tones == 0) continue;
      ++having;
      ++comparison.sets[s].notes;
      SetNote set_note;
      set_note.tones = per_set[s].tones;
      per_set[s].fill(set_note);
      for (std::size_t k = 0; k < trend_harmonics && k < set_note.level_dbfs.size(); ++k) {
        if (set_note.level_dbfs[k]) points[s][k].emplace_back(note, set_note.level_dbfs[k]->mean);
      }
      compared.sets[s] = std::move(set_note);
    }
    const bool matched = compared.sets.front().has_value() && having >= 2;
    const std::optional<SetNote>& reference = compared.sets.front();
    compared.difference_db.resize(sets.size());
    for (std::size_t s = 0; s < sets.size(); ++s) {
      if (!compared.sets[s]) continue;
      const SetNote& set_note = *compared.sets[s];
      std::vector<std::optional<double>>& differences = compared.difference_db[s];
      differences.resize(set_note.level_dbfs.size());
      if (!matched) continue;
      for (std::size_t i = 0; i < differences.size(); ++i) {
        // The fundamental by its absolute level: its relative one is 0.
        differences[i] = i == 0 ? difference(set_note.level_dbfs, reference->level_dbfs, i)
                                : difference(set_note.relative_db, reference->relative_db, i);
      }
    }
    (matched ? comparison.matched : comparison.unmatched).push_back(std::move(compared));
  }

  for (std::size_t s = 0; s < sets.size(); ++s) {
    for (std::size_t k = 0; k < trend_harmonics; ++k) {
      comparison.sets[s].trends.push_back(trend(points[s][k]));
    }
  }
  return comparison;
}

std::vector<ComparedTone> compared_tones(const RecordingResult& result, const Tuning& tuning,
                                         bool partials) {
  std::vector<ComparedTone> tones;
  for (std::size_t i = 0; i < result.tones.size(); ++i) {
    const ToneRecord& tone = result.tones[i];
    if (!tone.measured()) continue;
    const std::optional<ToneTarget> target = tone_target(tone, tuning);
    if (!target) continue;
    ComparedTone compared;
    compared.file = result.path;
    compared.tone = i + 1;
    compared.note = target->note.midi;
    compared.expected = target->expected;
    compared.frequency_hz = tone.frequency();
    compared.deviation_cents = target->deviation_cents;
    compared.amplitudes = tone_amplitudes(tone, partials);
    compared.descriptors = tone_timbre(tone, result.format.sample_rate, partials);
    tones.push_back(std::move(compared));
  }
  return tones;
}

}  // namespace toneprint
