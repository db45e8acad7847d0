// toneprint-batch's partials analysis as a user meets it: the JSON, the
// long partials table and the usual CSV's columns, agreeing with each other
// and with the string that made the recording.

#include <nlohmann/json.hpp>
#include <sstream>

#include "support/test_support.h"

using json = nlohmann::json;
namespace test = toneprint::test;

namespace {

constexpr std::uint32_t rate = 44100;
constexpr double two_pi = 6.283185307179586;

// Partial n of a string of stiffness b whose partial 1 is at f1, relative.
double ratio(int n, double b) { return n * std::sqrt((1.0 + b * n * n) / (1.0 + b)); }

// Tones of strings (f1, b, seconds) with 8 partials falling 4 dB each, the
// fourth left out, 0.7 s of silence around each.
std::string strings(const std::vector<std::array<double, 3>>& tones) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(0.7 * rate), 0);
  for (const auto& [f1, b, seconds] : tones) {
    const auto count = static_cast<std::size_t>(seconds * rate);
    for (std::size_t i = 0; i < count; ++i) {
      const double t = static_cast<double>(i) / rate;
      double v = 0.0;
      for (int n = 1; n <= 8; ++n) {
        if (n != 4)
          v += 8000.0 * std::pow(10.0, -4.0 * (n - 1) / 20.0) *
               std::cos(two_pi * ratio(n, b) * f1 * t + n);
      }
      samples.push_back(static_cast<std::int16_t>(std::lround(v)));
    }
    samples.resize(samples.size() + static_cast<std::size_t>(0.7 * rate), 0);
  }
  return test::wave(samples, rate);
}

std::vector<std::vector<std::string>> csv_rows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
    if (!line.empty() && line.back() == ',') cells.emplace_back();
    rows.push_back(cells);
  }
  return rows;
}

}  // namespace

// A stiff string, a harmonic tone and a bass note too short for the
// partials: the JSON gives each partial where the string put it, B, no
// vibrato, and says which tone got none (with a line on standard error);
// the partials table and the CSV's columns say the same.
TEST(PartialsMode, EveryFormatTellsTheSamePartials) {
  const test::TempDir dir;
  const std::string file = dir.write(
      "strings.wav", strings({{130.81, 5e-4, 1.2}, {440.0, 0.0, 1.0}, {30.0, 0.0, 0.62}}));
  const auto run = [&](const std::string& arguments, const std::string& out) {
    const test::ProgramRun r = test::run_program(
        TONEPRINT_BATCH_BINARY, "-q --force --harmonics 7 " + arguments + " -o " + out + " " + file,
        dir.write("input", ""), dir.file("console"));
    EXPECT_EQ(r.status, 0) << arguments << "\n" << r.console;
    return std::pair{test::read_file(out), r.console};
  };
  const auto [json_text, said] = run("--partials -f json", dir.file("p.json"));
  const json recording = json::parse(json_text)["recordings"][0];
  const json& tones = recording["tones"];
  ASSERT_EQ(tones.size(), 3u);
  // Every sample was analysed: the duration is the data chunk's, to the sample.
  const auto samples = (std::filesystem::file_size(file) - 44) / 2;
  EXPECT_EQ(recording["format"]["duration_s"].get<double>(), static_cast<double>(samples) / rate);
  EXPECT_NE(said.find("1 tone without partials (tone 3)"), std::string::npos) << said;
  EXPECT_TRUE(tones[2]["partials"].is_null() && tones[2]["inharmonicity"].is_null());
  EXPECT_TRUE(tones[2]["frequency_hz"].is_number());  // the default's pitch still

  const double truth_b[] = {5e-4, 0.0};
  for (std::size_t t = 0; t < 2; ++t) {
    SCOPED_TRACE(t);
    const json& tone = tones[t];
    EXPECT_TRUE(tone["vibrato"].is_null());
    EXPECT_NEAR(tone["inharmonicity"]["b"].get<double>(), truth_b[t], 0.02 * truth_b[t] + 2e-7);
    EXPECT_EQ(tone["inharmonicity"]["b_uncertainty_from"], "passes");
    ASSERT_EQ(tone["partials"].size(), 8u);
    const double f1 = tone["frequency_hz"].get<double>();
    for (const json& p : tone["partials"]) {
      const int n = p["number"].get<int>();
      if (n == 4) {
        EXPECT_TRUE(p["below_noise"].get<bool>());
        EXPECT_TRUE(p["frequency_hz"].is_null() && p["level_db"].is_null());
        continue;
      }
      EXPECT_FALSE(p["below_noise"].get<bool>()) << n;
      EXPECT_NEAR(p["level_db"].get<double>(), -4.0 * (n - 1), 0.05) << n;
      EXPECT_NEAR(p["frequency_hz"].get<double>() / (ratio(n, truth_b[t]) * f1), 1.0, 3e-5) << n;
      EXPECT_NEAR(p["cents_from_harmonic"].get<double>(),
                  1200.0 * std::log2(ratio(n, truth_b[t]) / n), 0.05)
          << n;
    }
  }

  // The long table: a row per tone and partial, the JSON's numbers rounded.
  const auto rows = csv_rows(run("-f partials-csv", dir.file("p.csv")).first);
  ASSERT_EQ(rows.size(), 1u + 16u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"file", "tone", "note", "partial", "frequency_hz",
                                               "cents_from_harmonic", "amplitude", "level_db",
                                               "below_noise"}));
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const json& tone = tones[std::stoul(rows[r][1]) - 1];
    const json& p = tone["partials"][std::stoul(rows[r][3]) - 1];
    EXPECT_EQ(rows[r][2], tone["note"]);
    EXPECT_EQ(rows[r][8], p["below_noise"].get<bool>() ? "true" : "false");
    if (p["frequency_hz"].is_null()) {
      EXPECT_EQ(rows[r][4] + rows[r][5] + rows[r][6] + rows[r][7], "") << r;
    } else {
      EXPECT_NEAR(std::stod(rows[r][4]), p["frequency_hz"].get<double>(), 5e-5) << r;
      EXPECT_NEAR(std::stod(rows[r][7]), p["level_db"].get<double>(), 5e-3) << r;
    }
  }

  // The usual CSV: three more columns, B's and the vibrato's, before the
  // eight timbre descriptors' that end every row.
  const auto table = csv_rows(run("--partials -f csv", dir.file("t.csv")).first);
  ASSERT_EQ(table.size(), 4u);
  constexpr std::size_t timbre = 8;
  ASSERT_GE(table[0].size(), 3u + timbre);
  const auto b_column = [&](const std::vector<std::string>& row, std::size_t i) {
    return row[row.size() - timbre - 3 + i];
  };
  EXPECT_EQ((std::vector<std::string>{b_column(table[0], 0), b_column(table[0], 1),
                                      b_column(table[0], 2), table[0].back()}),
            (std::vector<std::string>{"b", "vibrato_hz", "vibrato_cents", "slope_db_per_octave"}));
  EXPECT_NEAR(std::stod(b_column(table[1], 0)), 5e-4, 1e-5);
  EXPECT_EQ(b_column(table[1], 2), "");
  EXPECT_EQ(b_column(table[3], 0), "");
}
