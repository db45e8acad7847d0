#include "html/html_report.h"

#include "analysis/tone_analysis.h"
#include "html/report_figures.h"
#include "support/test_support.h"

#include <map>

using namespace toneprint;

namespace {

// Three tones at 8000 Hz with two harmonics: one measured (A4, harmonic 1
// 20 dB below the fundamental, harmonic 2 above the Nyquist limit), one too
// short for a pass, one whose only pass found no pitch.
RecordingResult three_tones(const std::string& path) {
  RecordingResult result;
  result.path = path;
  result.opened = true;
  result.format.container = "WAVE";
  result.format.sample_type = "int16";
  result.format.sample_rate = 8000;
  result.format.channels = 1;
  set_default_settings(result.settings, 8000);
  result.settings.harmonic_count = 2;
  result.samples = 24000;
  ToneRecord measured;
  measured.start = 800;
  measured.end = 8800;
  measured.totals = {880.0, 2, 1000.0, {2000.0, 200.0, 0.0}, {2, 2, 0}};
  measured.passes = {{2000, 440.0, {1000.0, 100.0, -1.0}}, {4400, 440.0, {1000.0, 100.0, -1.0}}};
  ToneRecord short_tone;
  short_tone.start = 12000;
  short_tone.end = 12500;
  short_tone.totals.amplitude_sums.assign(3, 0.0);
  ToneRecord no_pitch = short_tone;
  no_pitch.start = 16000;
  no_pitch.end = 20000;
  no_pitch.failures = {{17600, PassFailure::no_peaks}};
  result.tones = {measured, short_tone, no_pitch};
  result.levels.emplace();
  result.levels->add(std::vector<double>{0.0, -16384.0, 100.0});  // a peak at -6.02 dBFS
  return result;
}

// Every start tag has its end tag, in order (the page has no comments and
// its style sheet no '<').
bool balanced(const std::string& page) {
  std::vector<std::string> open;
  for (std::size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1)) {
    if (page.compare(at, 2, "<!") == 0) continue;
    const std::size_t close = page.find('>', at);
    if (close == std::string::npos) return false;
    const std::string tag = page.substr(at + 1, close - at - 1);
    const std::string name = tag.substr(0, tag.find_first_of(" /"));
    if (tag.front() == '/') {
      if (open.empty() || open.back() != tag.substr(1)) return false;
      open.pop_back();
    } else if (tag.back() != '/') {
      open.push_back(name);
    }
  }
  return open.empty();
}

}  // namespace

TEST(ReportFigures, GiveLabelsLevelsAndTimesInTheUnitsDrawn) {
  const RecordingFigure figure = recording_figure(three_tones("x.wav"), 440.0);
  ASSERT_EQ(figure.tones.size(), 3u);
  EXPECT_DOUBLE_EQ(figure.duration_s, 3.0);
  EXPECT_NEAR(figure.threshold_dbfs, -20.206, 0.001);  // 3200 of 32768
  EXPECT_EQ(figure.levels_top_db, 0.0);
  EXPECT_EQ(figure.levels_bottom_db, -60.0);
  const ToneFigure& a4 = figure.tones[0];
  EXPECT_EQ(a4.label, "A4 0.0 c");
  EXPECT_NEAR(a4.fundamental_dbfs, -30.3090, 1e-4);
  ASSERT_EQ(a4.levels_db.size(), 3u);
  EXPECT_NEAR(*a4.levels_db[0], 0.0, 1e-12);
  EXPECT_NEAR(*a4.levels_db[1], -20.0, 1e-12);
  EXPECT_FALSE(a4.levels_db[2].has_value());
  EXPECT_DOUBLE_EQ(a4.attack_end_s, 2401 / 8000.0);  // the loud sample, then 0.2 s
  EXPECT_EQ(a4.measured_s, (std::vector<double>{0.25, 0.55}));
  EXPECT_EQ(figure.tones[1].label, "too short");
  EXPECT_DOUBLE_EQ(figure.tones[1].attack_end_s, 12500 / 8000.0);  // cut at the tone's end
  EXPECT_EQ(figure.tones[2].label, "no pitch");
  EXPECT_EQ(figure.tones[2].failed_s, std::vector<double>{2.2});
  // A harmonic 5 dB above the fundamental lifts the levels' range to +10 dB.
  RecordingResult louder = three_tones("x.wav");
  louder.tones[0].totals.amplitude_sums[1] = 2000.0 * std::pow(10.0, 5.0 / 20.0);
  EXPECT_EQ(recording_figure(louder, 440.0).levels_top_db, 10.0);
  EXPECT_EQ(recording_figure(louder, 440.0).levels_bottom_db, -50.0);
  const struct {
    double cents;
    const char* text;
  } cents[] = {{1.26, "+1.3 c"}, {-0.04, "0.0 c"}, {-12.34, "-12.3 c"}, {0.0, "0.0 c"}};
  for (const auto& c : cents) EXPECT_EQ(cents_text(c.cents), c.text);
}

TEST(ReportFigures, ColumnLevelsArePeaksPerStretchInDbfs) {
  LevelEnvelope envelope(64, 1);
  std::vector<double> samples(40, 0.0);
  samples[3] = -32768.0;  // 0 dBFS in the first column
  samples[25] = 3276.8;   // -20 dBFS in the third
  envelope.add(samples);
  const std::vector<double> columns = column_levels(envelope, 40, 4);
  ASSERT_EQ(columns.size(), 4u);
  EXPECT_NEAR(columns[0], 0.0, 1e-12);
  EXPECT_EQ(columns[1], level_floor_dbfs);
  EXPECT_NEAR(columns[2], -20.0, 1e-12);
  EXPECT_EQ(columns[3], level_floor_dbfs);
  // More columns than samples: each shows the sample it lies in.
  EXPECT_NEAR(column_levels(envelope, 40, 400)[31], 0.0, 1e-12);
}

// A mark per tone in the overview and the timbre map, a dot per measured
// tone, a title on every cell, the path escaped, and every tag closed.
TEST(HtmlReport, DrawsEachToneInEachChartAndClosesEveryTag) {
  HtmlReport report("toneprint-batch test", 440.0);
  const std::string page = report.begin() +
                           report.recording(three_tones("a<b&c>.wav"), {{"--harmonics", "2"}}) +
                           report.end();
  EXPECT_TRUE(balanced(page));
  EXPECT_EQ(test::occurrences(page, "<g class=\"tone-mark"), 3u);
  EXPECT_EQ(test::occurrences(page, "<g class=\"tone-mark unmeasured\""), 2u);
  EXPECT_EQ(test::occurrences(page, "<g class=\"tuning-dot\""), 1u);
  EXPECT_EQ(test::occurrences(page, "<g class=\"timbre-row\""), 3u);
  EXPECT_EQ(test::occurrences(page, "<figure class=\"tone\""), 3u);
  EXPECT_EQ(test::occurrences(page, "class=\"bars\""), 1u);  // the measured tone's
  EXPECT_EQ(test::occurrences(page, "Tone 1 h1: -20.0 dB</title>"), 1u);
  EXPECT_EQ(test::occurrences(page, "above the Nyquist limit</title>"), 2u);  // map and bars
  EXPECT_EQ(test::occurrences(page, ": not measured</title>"), 6u);
  EXPECT_EQ(test::occurrences(page, "<path class=\"level\" d=\"M"), 1u);
  // Each pass a tick, each tone a caption; the legend's lowest level is a bound.
  EXPECT_EQ(test::occurrences(page, "Tone 1: pass at 0.250 s</title>"), 1u);
  EXPECT_EQ(test::occurrences(page, "Tone 1: pass at 0.550 s</title>"), 1u);
  EXPECT_EQ(test::occurrences(page, "Tone 3: no pitch found at 2.200 s</title>"), 1u);
  EXPECT_EQ(test::occurrences(page, "<b>Tone 1: A4 0.0 c, 440.000 Hz, 0.100 s to 1.100 s</b>"), 1u);
  EXPECT_EQ(test::occurrences(page, ">≤ -60</text>"), 1u);
  EXPECT_EQ(test::occurrences(page, "a&lt;b&amp;c&gt;.wav"), 1u);
  EXPECT_EQ(test::occurrences(page, "a<b"), 0u);
  EXPECT_EQ(test::occurrences(page, "<script"), 0u);
  EXPECT_EQ(test::occurrences(page, "http"),
            test::occurrences(page, "xmlns=\"http://www.w3.org/"));  // nothing fetched
}

// Without a measured tone there is nothing to tune or map, but the tones,
// why they were not measured, the numbers and the settings are still there.
TEST(HtmlReport, TonesThatWereNotMeasuredStillGetTheirRowsAndTheReasonWhy) {
  HtmlReport report("toneprint-batch test", 440.0);
  RecordingResult result = three_tones("short.wav");
  const std::string all = report.recording(result, {{"--harmonics", "2"}});
  EXPECT_EQ(test::occurrences(all, "peak -6.0 dBFS;"), 1u);
  result.tones.erase(result.tones.begin());
  const std::string section = report.recording(result, {{"--harmonics", "2"}});
  EXPECT_TRUE(balanced(section));
  EXPECT_EQ(test::occurrences(section, "class=\"tuning\""), 0u);
  EXPECT_EQ(test::occurrences(section, "class=\"timbre\""), 0u);
  EXPECT_EQ(test::occurrences(section, "<figure class=\"tone\""), 2u);
  // A pass needs the pitch block of 4096 + 1024 samples at 8000 Hz.
  EXPECT_EQ(
      test::occurrences(section, "a pass needs at least 0.64 s after the attack skip of 0.2 s"),
      1u);
  EXPECT_EQ(test::occurrences(section, "<table class=\"numbers\">"), 1u);
  EXPECT_EQ(test::occurrences(section, "<th class=\"text\">--harmonics</th><td>2</td>"), 1u);
  EXPECT_EQ(test::occurrences(section, "id=\"recording-2\""), 1u);  // the report's second section
  result.tones.clear();
  EXPECT_EQ(test::occurrences(report.recording(result, {}),
                              "or the recording ended within the attack skip after it.</p>"),
            1u);
}

TEST(HtmlReport, ARecordingThatCouldNotBeReadGetsItsErrorAndNoCharts) {
  HtmlReport report("toneprint-batch test", 440.0);
  RecordingResult result;
  result.path = "gone.wav";
  result.error = "cannot open: No such file or directory";
  const std::string section = report.recording(result, {});
  EXPECT_TRUE(balanced(section));
  EXPECT_NE(section.find("<p class=\"error\">cannot open: No such file or directory</p>"),
            std::string::npos);
  EXPECT_EQ(test::occurrences(section, "<svg"), 0u);
}

// Every mark lies inside its picture; the bars of a tone stand side by side
// in harmonic order; the guides at ±5 and ±50 cents lie evenly about the
// zero line.
TEST(HtmlReport, EveryMarkIsInsideItsPictureAndInItsPlace) {
  HtmlReport report("toneprint-batch test", 440.0);
  const std::string page = report.recording(three_tones("a.wav"), {{"--harmonics", "2"}});
  std::size_t pictures = 0;
  std::map<std::string, std::vector<std::pair<double, double>>> guides;  // class: (y, zero)
  double width = -1.0, height = -1.0, zero = -1.0, last_bar_end = 0.0;
  std::string kind;  // the picture's class; empty outside a picture
  // Inside an axis: where its line starts, which decides on which side of
  // the plot its labels and caption belong. NaN outside an axis.
  double axis_x = NAN, axis_y = NAN;
  bool axis_line_seen = false, horizontal = false;
  std::size_t axis_labels = 0;
  for (std::size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1)) {
    const std::string tag = page.substr(at + 1, page.find('>', at) - at - 1);
    const std::string name = tag.substr(0, tag.find_first_of(" /"));
    std::map<std::string, std::string> a;  // the tag's attributes
    for (std::size_t eq = tag.find("=\""); eq != std::string::npos; eq = tag.find("=\"", eq + 1)) {
      const std::size_t key = tag.rfind(' ', eq) + 1, close = tag.find('"', eq + 2);
      a[tag.substr(key, eq - key)] = tag.substr(eq + 2, close - eq - 2);
      eq = close;
    }
    const auto number = [&](const char* key) { return std::stod(a.at(key)); };
    if (name == "svg" && a.count("class")) {
      ++pictures;
      kind = a["class"];
      width = number("width");
      height = number("height");
      last_bar_end = 0.0;
      continue;
    }
    if (tag == "/svg") kind.clear();
    if (kind.empty()) continue;
    for (const char* x : {"x", "x1", "x2", "cx"}) {
      if (a.count(x)) {
        EXPECT_TRUE(number(x) >= 0 && number(x) <= width) << kind << ": " << tag;
      }
    }
    for (const char* y : {"y", "y1", "y2", "cy"}) {
      if (a.count(y)) {
        EXPECT_TRUE(number(y) >= 0 && number(y) <= height) << kind << ": " << tag;
      }
    }
    if (name == "rect") {
      EXPECT_LE(number("x") + number("width"), width + 1e-9) << kind << ": " << tag;
      EXPECT_LE(number("y") + number("height"), height + 1e-9) << kind << ": " << tag;
      if (kind == "bars") {
        EXPECT_GT(number("x"), last_bar_end) << tag;
        last_bar_end = number("x") + number("width");
      }
    }
    if (a["class"] == "zero") zero = number("y1");
    if (name == "g" && a["class"] == "axis") {
      axis_x = axis_y = 0.0;
      axis_line_seen = false;
    } else if (tag == "/g") {
      axis_x = axis_y = NAN;
    } else if (!std::isnan(axis_x) && !axis_line_seen) {
      // An axis starts with its line; a group of labels alone (the timbre
      // map's columns, the legend) is not one.
      axis_line_seen = true;
      horizontal = name == "line" && number("y1") == number("y2");
      axis_x = name == "line" ? number("x1") : NAN;
      axis_y = name == "line" ? number("y1") : NAN;
    } else if (!std::isnan(axis_x) && name == "text") {
      // Below a horizontal axis, left of a vertical one: never over the plot.
      if (horizontal) {
        EXPECT_GT(number("y"), axis_y) << kind << ": " << tag;
      } else {
        EXPECT_LT(number("x"), axis_x) << kind << ": " << tag;
      }
      ++axis_labels;
    }
    if (kind == "tuning" && a["class"].rfind("guide", 0) == 0) {
      guides[a["class"]].emplace_back(number("y1"), zero);
    }
  }
  EXPECT_EQ(pictures, 4u);  // the level over time, the tuning, the timbre map, one tone's bars
  for (const auto& [name, lines] : guides) {
    ASSERT_EQ(lines.size(), 2u) << name;
    EXPECT_NEAR(lines[0].first + lines[1].first, 2 * lines[0].second, 0.02) << name;
  }
  EXPECT_EQ(guides.size(), 2u);
  EXPECT_GE(axis_labels, 3u * 2u * 3u);  // three charts with two axes, each with ticks and a caption
}

// A tone whose passes disagree gets a whisker over its spread on the tuning
// chart; one whose passes agree gets none.
TEST(HtmlReport, ASpreadIsDrawnAsAWhisker) {
  HtmlReport report("toneprint-batch test", 440.0);
  const auto whiskers = [&](const RecordingResult& result) {
    const std::string page = report.recording(result, {{"--harmonics", "2"}});
    const std::size_t dot = page.find("<g class=\"tuning-dot\">");
    return dot == std::string::npos
               ? std::size_t{99}
               : test::occurrences(page.substr(dot, page.find("</g>", dot) - dot), "<line");
  };
  RecordingResult result = three_tones("a.wav");
  EXPECT_EQ(whiskers(result), 0u);
  result.tones[0].passes[0].fundamental = 430.0;  // the same mean, 440 Hz
  result.tones[0].passes[1].fundamental = 450.0;
  EXPECT_EQ(whiskers(result), 1u);
}
