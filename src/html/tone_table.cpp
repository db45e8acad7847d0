#include "html/tone_table.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace toneprint {
namespace {

std::string formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Rounded to two decimals, without the sign of a negative zero.
double hundredths(double value) {
  const double rounded = std::round(value * 100.0) / 100.0;
  return rounded == 0.0 ? 0.0 : rounded;
}

}  // namespace

std::vector<std::string> tone_table_columns(std::uint32_t harmonic_count) {
  std::vector<std::string> columns = {"tone",         "start_s",        "end_s", "passes",
                                      "passes_used",  "frequency_hz",   "note",  "cents",
                                      "spread_cents", "max_fundamental"};
  for (std::uint32_t k = 0; k <= harmonic_count; ++k) {
    columns.push_back(std::string(1, 'h').append(std::to_string(k)));
  }
  return columns;
}

std::vector<std::string> tone_table_row(const RecordingResult& result, std::size_t index,
                                        std::uint32_t harmonic_count, double a4) {
  const ToneRecord& tone = result.tones[index];
  std::vector<std::string> row = {
      std::to_string(index + 1), formatted("%.6f", result.seconds(tone.start)),
      formatted("%.6f", result.seconds(tone.end)), std::to_string(tone.passes.size()),
      std::to_string(tone.totals.pass_count)};
  row.reserve(row.size() + 5 + harmonic_count + 1);
  if (!tone.measured()) {
    row.resize(row.size() + 5 + harmonic_count + 1);
    return row;
  }
  const NearestNote note = nearest_note(tone.frequency(), a4);
  row.push_back(formatted("%.3f", tone.frequency()));
  row.push_back(note.name);
  row.push_back(formatted("%.2f", hundredths(note.cents)));
  row.push_back(formatted("%.2f", tone.spread_cents()));
  row.push_back(formatted("%.1f", tone.totals.max_fundamental_amplitude));
  for (std::uint32_t k = 0; k <= harmonic_count; ++k) {
    const std::optional<double> amplitude = tone.harmonic(k);
    row.push_back(amplitude ? formatted("%.1f", *amplitude) : std::string());
  }
  return row;
}

std::vector<std::string> target_table_columns() {
  return {"expected_note", "expected_hz", "deviation_cents"};
}

std::vector<std::string> target_table_cells(const ToneRecord& tone, const Tuning& tuning) {
  std::vector<std::string> cells(3);
  const std::optional<ToneTarget> target = tone_target(tone, tuning);
  if (!target) return cells;
  cells[0] = note_name(target->note.midi);
  cells[1] = formatted("%.3f", target->hz);
  if (target->deviation_cents) cells[2] = formatted("%.2f", hundredths(*target->deviation_cents));
  return cells;
}

std::vector<std::string> timbre_table_columns() {
  return {"harmonics_used",     "centroid_hz", "centroid_harmonic", "odd_even_db", "t1", "t2", "t3",
          "slope_db_per_octave"};
}

std::vector<std::string> timbre_table_cells(const ToneRecord& tone, std::uint32_t sample_rate,
                                            bool partials) {
  return descriptor_cells(tone_timbre(tone, sample_rate, partials));
}

std::vector<std::string> descriptor_cells(const std::optional<TimbreDescriptors>& d) {
  std::vector<std::string> cells(8);
  if (!d) return cells;
  cells[0] = std::to_string(d->harmonics_used);
  cells[1] = formatted("%.3f", d->centroid_hz);
  cells[2] = formatted("%.4f", d->centroid_harmonic);
  if (d->odd_even_db) cells[3] = formatted("%.2f", hundredths(*d->odd_even_db));
  cells[4] = formatted("%.4f", d->t1);
  cells[5] = formatted("%.4f", d->t2);
  cells[6] = formatted("%.4f", d->t3);
  if (d->slope_db_per_octave) cells[7] = formatted("%.2f", hundredths(*d->slope_db_per_octave));
  return cells;
}

std::vector<std::string> partials_table_columns() { return {"B", "vibrato"}; }

std::vector<std::string> partials_table_cells(const ToneRecord& tone) {
  std::vector<std::string> cells(2);
  if (!tone.partials) return cells;
  if (const std::optional<Inharmonicity>& b = tone.partials->inharmonicity) {
    cells[0] = formatted("%.3e", b->b);
    if (std::isfinite(b->uncertainty)) cells[0] += formatted(" ± %.1e", b->uncertainty);
  }
  if (const std::optional<Vibrato>& vibrato = tone.partials->vibrato) {
    cells[1] = formatted("%.2f Hz", vibrato->rate_hz) + formatted(" ±%.1f c", vibrato->extent_cents);
  }
  return cells;
}

}  // namespace toneprint
