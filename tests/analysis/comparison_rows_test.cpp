#include "analysis/comparison.h"

#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace toneprint;

namespace {

// A note of `tones` tones whose second harmonic only `second_tones` of
// them measured.
SetNote two_harmonics(double fundamental_dbfs, double second_db, std::size_t tones,
                      std::size_t second_tones) {
  SetNote note;
  note.tones = tones;
  note.level_dbfs = {Spread{fundamental_dbfs, 0.5, tones},
                     Spread{fundamental_dbfs + second_db, 0.25, second_tones}};
  note.relative_db = {Spread{0.0, 0.0, tones}, Spread{second_db, 0.75, second_tones}};
  return note;
}

}  // namespace

// The rows a hand-made comparison of two sets gives: the fundamental's row
// carries the absolute level and its spread, the others the relative level;
// a matched note's rows its differences, an unmatched note's none; a set
// without a note no rows for it; each row counts the tones its level is
// the mean of.
TEST(ComparisonRows, TakeEachLevelFromItsOwnReference) {
  Comparison comparison;
  comparison.sets = {SetSummary{}, SetSummary{}};
  ComparedNote a4;
  a4.note = 69;
  a4.sets = {two_harmonics(-20.0, -6.0, 2, 1), two_harmonics(-26.0, -6.0, 1, 1)};
  a4.difference_db = {{0.0, 0.0}, {-6.0, std::nullopt}};
  comparison.matched.push_back(a4);
  ComparedNote c5;
  c5.note = 72;
  c5.sets = {std::nullopt, two_harmonics(-30.0, -12.0, 3, 3)};
  comparison.unmatched.push_back(c5);

  struct Row {
    int note;
    bool matched;
    std::size_t set;
    int harmonic;
    std::string reference;
    std::optional<double> level, spread, difference;
    std::size_t tones;
  };
  const std::vector<Row> expected = {
      {69, true, 0, 1, "full scale", -20.0, 0.5, 0.0, 2},
      {69, true, 0, 2, "fundamental", -6.0, 0.75, 0.0, 1},
      {69, true, 1, 1, "full scale", -26.0, 0.5, -6.0, 1},
      {69, true, 1, 2, "fundamental", -6.0, 0.75, std::nullopt, 1},
      {72, false, 1, 1, "full scale", -30.0, 0.5, std::nullopt, 3},
      {72, false, 1, 2, "fundamental", -12.0, 0.75, std::nullopt, 3},
  };
  const std::vector<ComparisonRow> rows = comparison_rows(comparison);
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ComparisonRow& row = rows[i];
    const Row& e = expected[i];
    SCOPED_TRACE("row " + std::to_string(i));
    EXPECT_EQ(row.note, e.note);
    EXPECT_EQ(row.matched, e.matched);
    EXPECT_EQ(row.set, e.set);
    EXPECT_EQ(row.harmonic, e.harmonic);
    EXPECT_EQ(row_reference_name(row), e.reference);
    EXPECT_EQ(row.level_db, e.level);
    EXPECT_EQ(row.spread_db, e.spread);
    EXPECT_EQ(row.difference_db, e.difference);
    EXPECT_EQ(row.tones, e.tones);
  }
}
