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

}  // namespace

void write_comparison_csv(const Comparison& comparison, std::FILE* out) {
  std::fputs("note,set,harmonic,level_db,difference_db,relative_to,spread_db,tones\n", out);
  for (const ComparisonRow& row : comparison_rows(comparison)) {
    std::fprintf(out, "%s,%s,%d,%s,%s,%s,%s,%zu\n", note_name(row.note).c_str(),
                 csv_field(comparison.sets[row.set].name).c_str(), row.harmonic,
                 cell("%.2f", row.level_db).c_str(), cell("%.2f", row.difference_db).c_str(),
                 row_reference_name(row), cell("%.2f", row.spread_db).c_str(), row.tones);
  }
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
