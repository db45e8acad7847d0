#include "batch/comparison_csv.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "batch/result_writers.h"
#include "html/tone_table.h"

namespace toneprint {
namespace {

// A number in a cell with the run's CSV digits, without the sign of a
// negative zero; empty for none.
std::string cell(const char* format, const std::optional<double>& value) {
  if (!value) return {};
  char text[64];
  std::snprintf(text, sizeof text, format, *value);
  if (text[0] == '-' && std::strtod(text, nullptr) == 0.0) return text + 1;
  return text;
}

void write_rows(const ComparedNote& note, const std::vector<SetSummary>& sets, std::FILE* out) {
  const std::string name = note_name(note.note);
  for (std::size_t s = 0; s < note.sets.size(); ++s) {
    if (!note.sets[s]) continue;
    const SetNote& set = *note.sets[s];
    const std::string set_name = csv_field(sets[s].name);
    for (std::size_t i = 0; i < set.level_dbfs.size(); ++i) {
      // The fundamental by its absolute level, the others relative to it.
      const std::optional<Spread>& level = i == 0 ? set.level_dbfs[i] : set.relative_db[i];
      const std::optional<double> difference =
          i < note.difference_db[s].size() ? note.difference_db[s][i] : std::nullopt;
      std::fprintf(out, "%s,%s,%zu,%s,%s,%s,%s,%zu\n", name.c_str(), set_name.c_str(), i + 1,
                   cell("%.2f", level ? std::optional(level->mean) : std::nullopt).c_str(),
                   cell("%.2f", difference).c_str(), i == 0 ? "full scale" : "fundamental",
                   cell("%.2f", level ? std::optional(level->spread) : std::nullopt).c_str(),
                   level ? level->count : std::size_t{0});
    }
  }
}

}  // namespace

void write_comparison_csv(const Comparison& comparison, std::FILE* out) {
  std::fputs("note,set,harmonic,level_db,difference_db,relative_to,spread_db,tones\n", out);
  for (const ComparedNote& note : comparison.matched) write_rows(note, comparison.sets, out);
  for (const ComparedNote& note : comparison.unmatched) write_rows(note, comparison.sets, out);
}

void write_compared_tones_csv(const std::vector<ComparisonSet>& sets, std::FILE* out) {
  std::fputs("set,file,tone,note,matched_by,frequency_hz,deviation_cents,fundamental_dbfs", out);
  for (const std::string& column : timbre_table_columns()) std::fprintf(out, ",%s", column.c_str());
  std::fputs("\n", out);
  for (const ComparisonSet& set : sets) {
    const std::string set_name = csv_field(set.name);
    for (const ComparedTone& tone : set.tones) {
      std::optional<double> fundamental;
      if (!tone.amplitudes.empty() && tone.amplitudes.front() && *tone.amplitudes.front() > 0.0) {
        fundamental = 20.0 * std::log10(*tone.amplitudes.front() / full_scale);
      }
      std::fprintf(out, "%s,%s,%zu,%s,%s,%s,%s,%s", set_name.c_str(), csv_field(tone.file).c_str(),
                   tone.tone, note_name(tone.note).c_str(), tone.expected ? "expected" : "nearest",
                   cell("%.3f", tone.frequency_hz).c_str(),
                   cell("%.2f", tone.deviation_cents).c_str(), cell("%.2f", fundamental).c_str());
      for (const std::string& c : descriptor_cells(tone.descriptors)) {
        std::fprintf(out, ",%s", c.c_str());
      }
      std::fputs("\n", out);
    }
  }
}

}  // namespace toneprint
