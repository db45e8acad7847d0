#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

#include "analysis/comparison.h"

namespace toneprint {
namespace {

void add_rows(const ComparedNote& compared, bool matched, std::vector<ComparisonRow>& rows) {
  for (std::size_t set = 0; set < compared.sets.size(); ++set) {
    if (!compared.sets[set]) continue;
    const SetNote& note = *compared.sets[set];
    const std::size_t harmonics = std::max(note.level_dbfs.size(), note.relative_db.size());
    for (std::size_t k = 1; k <= harmonics; ++k) {
      ComparisonRow row;
      row.note = compared.note;
      row.matched = matched;
      row.set = set;
      row.harmonic = static_cast<int>(k);
      row.relative = k > 1;
      // The fundamental's level relative to itself is 0 by definition: its
      // row carries the absolute level instead.
      const std::vector<std::optional<Spread>>& levels = k > 1 ? note.relative_db : note.level_dbfs;
      if (k - 1 < levels.size() && levels[k - 1]) {
        row.level_db = levels[k - 1]->mean;
        row.spread_db = levels[k - 1]->spread;
        row.tones = levels[k - 1]->count;
      }
      if (matched && set < compared.difference_db.size() &&
          k - 1 < compared.difference_db[set].size()) {
        row.difference_db = compared.difference_db[set][k - 1];
      }
      rows.push_back(row);
    }
  }
}

}  // namespace

std::vector<ComparisonRow> comparison_rows(const Comparison& comparison) {
  std::vector<ComparisonRow> rows;
  for (const ComparedNote& note : comparison.matched) add_rows(note, true, rows);
  for (const ComparedNote& note : comparison.unmatched) add_rows(note, false, rows);
  return rows;
}

const char* row_reference_name(const ComparisonRow& row) {
  return row.relative ? "fundamental" : "full scale";
}

}  // namespace toneprint
