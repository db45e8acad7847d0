// toneprint-batch compare, run as a user runs it, on recordings whose
// differences are known: a set against itself, a copy at half the
// amplitude, stored results of a recording against the recording.

#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace test = toneprint::test;

namespace {

constexpr std::uint32_t rate = 44100;

// Three tones (A3, E4, A4) with eleven harmonics each at 1/k, each starting
// at its loudest so that a quieter copy starts at the same sample; every
// sample even, so that half of it is exact.
std::vector<std::int16_t> three_notes(int divisor) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(4.5 * rate), 0);
  const double fundamentals[] = {220.0, 329.63, 440.0};
  for (int i = 0; i < 3; ++i) {
    test::ToneRecipe recipe{fundamentals[i], {}};
    for (int k = 1; k <= 11; ++k) recipe.partials.push_back({k, 8000.0 / k, std::numbers::pi / 2});
    const std::vector<double> tone = test::synthesise(recipe, rate, rate, false);
    for (std::size_t j = 0; j < tone.size(); ++j) {
      samples[static_cast<std::size_t>((i * 3 + 1) * rate / 2) + j] =
          static_cast<std::int16_t>(2 * std::round(tone[j] / 2) / divisor);
    }
  }
  return samples;
}

std::vector<std::vector<std::string>> rows_of(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    std::string cell;
    while (std::getline(fields, cell, ',')) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

// Every difference as worked out from how the sets were made: 0 dB for the
// same recording; for a copy at half the amplitude, -20 log10(2) dB in the
// fundamental's level and 0 in the levels relative to it; stored results of
// a recording give what the recording gives.
TEST(Compare, DifferencesOfSetsMadeToDifferAsKnown) {
  const test::TempDir dir;
  const std::string demo = TONEPRINT_SOURCE_DIR "/demo/demo.wav";
  const std::string full = dir.write("full.wav", test::wave(three_notes(1)));
  const std::string half = dir.write("half.wav", test::wave(three_notes(2)));
  const std::string stored = dir.file("full.json");
  const test::ProgramRun stored_run =
      test::run_program(TONEPRINT_BATCH_BINARY, "-q -o " + stored + " " + full,
                        dir.write("input", ""), dir.file("console"));
  ASSERT_EQ(stored_run.status, 0) << stored_run.console;

  const auto compare = [&](const std::string& arguments) {
    const test::ProgramRun run = test::run_program(TONEPRINT_BATCH_BINARY, "compare -q " + arguments,
                                                   dir.write("input", ""), dir.file("console"));
    EXPECT_EQ(run.status, 0) << arguments << "\n" << run.console;
    return run.console;
  };
  const std::string recorded = compare(full + " " + half);
  const struct {
    const char* what;
    std::string output;
    double fundamental, others;
    std::size_t notes;
  } cases[] = {
      {"demo.wav against itself", compare(demo + " " + demo), 0.0, 0.0, 4},
      {"a copy at half the amplitude", recorded, -20 * std::log10(2.0), 0.0, 3},
      {"stored results against the copy", replaced(compare(stored + " " + half), stored, full),
       -20 * std::log10(2.0), 0.0, 3},
  };
  for (const auto& c : cases) {
    const std::string differences = c.output.substr(0, c.output.find("\n\n") + 1);
    const std::vector<std::vector<std::string>> rows = rows_of(differences);
    ASSERT_GT(rows.size(), 1u) << c.what;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"note", "set", "harmonic", "level_db",
                                                 "difference_db", "relative_to", "spread_db",
                                                 "tones"}));
    // Each note has its harmonics in each of the two sets.
    EXPECT_EQ(rows.size(), 1 + c.notes * 2 * 11) << c.what << "\n" << differences;
    for (std::size_t r = 1; r < rows.size(); ++r) {
      ASSERT_EQ(rows[r].size(), 8u) << c.what << " row " << r;
      const bool reference = r % 22 >= 1 && r % 22 <= 11;
      const double expected = reference ? 0.0 : rows[r][2] == "1" ? c.fundamental : c.others;
      char cell[16];
      std::snprintf(cell, sizeof cell, "%.2f", expected);
      EXPECT_EQ(rows[r][4], cell) << c.what << " row " << r;
      EXPECT_EQ(rows[r][5], rows[r][2] == "1" ? "full scale" : "fundamental") << c.what;
    }
  }
  // Stored results are the recording's to the last digit, its tones too.
  EXPECT_EQ(cases[2].output, recorded);
}

// With -o the tones go to a file of their own; an expected list serves each
// set from its start.
TEST(Compare, TonesGoBesideTheOutputMatchedAsExpected) {
  const test::TempDir dir;
  const std::string full = dir.write("full.wav", test::wave(three_notes(1)));
  const std::string half = dir.write("half.wav", test::wave(three_notes(2)));
  const test::ProgramRun run = test::run_program(
      TONEPRINT_BATCH_BINARY,
      "compare -q --expect A3,E4,A4 -o " + dir.file("rank.csv") + " " + full + " " + half,
      dir.write("input", ""), dir.file("console"));
  ASSERT_EQ(run.status, 0) << run.console;
  EXPECT_EQ(test::read_file(dir.file("rank.csv")).find("\n\n"), std::string::npos);
  const std::vector<std::vector<std::string>> tones =
      rows_of(test::read_file(dir.file("rank-tones.csv")));
  ASSERT_EQ(tones.size(), 7u);
  EXPECT_EQ(tones[0], (std::vector<std::string>{
                          "set", "file", "tone", "note", "matched_by", "frequency_hz",
                          "deviation_cents", "fundamental_dbfs", "harmonics_used", "centroid_hz",
                          "centroid_harmonic", "odd_even_db", "t1", "t2", "t3",
                          "slope_db_per_octave"}));
  const char* notes[] = {"A3", "E4", "A4"};
  for (std::size_t r = 1; r < tones.size(); ++r) {
    EXPECT_EQ(tones[r][0], r <= 3 ? full : half);
    EXPECT_EQ(tones[r][3], notes[(r - 1) % 3]) << r;
    EXPECT_EQ(tones[r][4], "expected") << r;
    // 8000 at full, 4000 at half the amplitude.
    EXPECT_EQ(tones[r][7], r <= 3 ? "-12.25" : "-18.27") << r;
  }
}

// What cannot be compared is refused with the reason and the status.
TEST(Compare, RefusesWhatItCannotCompare) {
  const test::TempDir dir;
  const std::string demo = TONEPRINT_SOURCE_DIR "/demo/demo.wav";
  const std::string older = dir.write(
      "older.json",
      R"({"program": "toneprint-batch", "version": "0.1.0", "a4_hz": 440.0, "recordings": []})");
  const struct {
    std::string arguments;
    int status;
    const char* message;
  } cases[] = {
      {demo, 2, "toneprint-batch: compare needs two sets or more\n"},
      {"-f json " + demo + " " + demo, 2, "compare writes csv or html, not json"},
      {older + " " + demo, 1,
       "older.json: results in an older layout (written before toneprint-batch recorded "
       "format_version), which this version does not read: analyse the recordings again\n"
       "toneprint-batch: one set of the 2 could be read; nothing to compare\n"},
      {demo + " " + dir.file("missing") + " " + demo, 1, "missing: cannot open"},
  };
  for (const auto& c : cases) {
    const test::ProgramRun run = test::run_program(TONEPRINT_BATCH_BINARY, "compare -q " + c.arguments,
                                                   dir.write("input", ""), dir.file("console"));
    EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.console;
    EXPECT_NE(run.console.find(c.message), std::string::npos) << c.arguments << "\n" << run.console;
  }
}

// The page has a figure for each note both sets measured, and no other.
TEST(Compare, PageHasAFigurePerMatchedNote) {
  const test::TempDir dir;
  const std::string full = dir.write("full.wav", test::wave(three_notes(1)));
  const std::string half = dir.write("half.wav", test::wave(three_notes(2)));
  const std::string page = dir.file("sets.html");
  const test::ProgramRun run =
      test::run_program(TONEPRINT_BATCH_BINARY, "compare -q -o " + page + " " + full + " " + half,
                        dir.write("input", ""), dir.file("console"));
  ASSERT_EQ(run.status, 0) << run.console;
  const std::string html = test::read_file(page);
  std::vector<std::string> figures;
  const std::string marker = "class=\"compared-note\" id=\"";
  for (std::size_t at = html.find(marker); at != std::string::npos; at = html.find(marker, at + 1)) {
    const std::size_t id = at + marker.size();
    figures.push_back(html.substr(id, html.find('"', id) - id));
  }
  EXPECT_EQ(figures, (std::vector<std::string>{"note-A3", "note-E4", "note-A4"}));
  EXPECT_NE(html.find("Every note was matched."), std::string::npos);
}
