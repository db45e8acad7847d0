#include "html/html_report.h"

#include "analysis/tone_analysis.h"
#include "html/chart_scale.h"
#include "html/page_checks.h"
#include "html/report_figures.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

using namespace toneprint;
using test::balanced;
using test::Tag;
using test::tags;

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

// three_tones' recording with its partials read: stiff strings of rising B
// at 110, 440 and 880 Hz (the first with partials at 0, +10 and -4 cents
// and partial 4 below the noise), a harmonic tone at 330 Hz whose B came
// out just below 0 with a vibrato of 5.6 Hz ±23 c, and the short tone.
RecordingResult stiff_tones() {
  RecordingResult result = three_tones("stiff.wav");
  const ToneRecord model = result.tones[0];
  const ToneRecord short_tone = result.tones[1];
  const struct {
    double frequency, b, uncertainty;
    std::optional<Vibrato> vibrato;
  } tones[] = {{110.0, 1e-4, 2e-5, std::nullopt},
               {440.0, 1e-3, 5e-4, std::nullopt},
               {880.0, 8e-3, 1e-2, std::nullopt},
               {330.0, -1e-9, 1e-9, Vibrato{5.6, 23.0}}};
  result.tones.clear();
  std::uint64_t start = 800;
  for (const auto& tone : tones) {
    ToneRecord record = model;
    record.start = start;
    record.end = start + 3000;
    record.totals.frequency_sum = 2 * tone.frequency;
    for (MeasuredPass& pass : record.passes) {
      pass.first = start + 1200;
      pass.fundamental = tone.frequency;
    }
    TonePartials partials;
    partials.frequency = tone.frequency;
    partials.inharmonicity = Inharmonicity{tone.b, tone.uncertainty, true};
    partials.vibrato = tone.vibrato;
    for (int n = 1; n <= 4; ++n) {
      TonePartial partial;
      partial.number = n;
      partial.frequency = n * tone.frequency;
      partial.cents_from_harmonic = stretch_cents(tone.b, n);
      partial.level_db = 6.0 * (1 - n);
      partials.partials.push_back(partial);
    }
    record.partials = partials;
    result.tones.push_back(record);
    start += 4000;
  }
  std::vector<TonePartial>& first = result.tones[0].partials->partials;
  first[1].cents_from_harmonic = 10.0;
  first[2].cents_from_harmonic = -4.0;
  first[3] = TonePartial{4, std::nullopt, std::nullopt, std::nullopt, std::nullopt, true};
  result.tones.push_back(short_tone);
  result.tones.back().start = 20000;
  result.tones.back().end = 20500;
  return result;
}

// three_tones' recording with tones judged against targets (equal
// temperament, A4 = 440 Hz): A4 +10 c, expected; C4 -5 c, judged against
// the nearest note, with passes 16 c apart; E4 +3 c, which the octave guard
// took at the expected pitch; G4 -8 c, split from notes played legato; A3
// found at 440 Hz, 1200 c from it; and the tone too short to measure.
RecordingResult judged_tones() {
  RecordingResult result = three_tones("judged.wav");
  const ToneRecord model = result.tones[0];
  const ToneRecord short_tone = result.tones[1];
  const struct {
    int midi;
    double cents;
    bool expected;
    double spread;  // the passes this far either side of the mean, in cents
  } tones[] = {{69, 10.0, true, 0.0},  {60, -5.0, false, 8.0}, {64, 3.0, true, 0.0},
               {67, -8.0, true, 0.0},  {57, 1200.0, true, 0.0}};
  result.tones.clear();
  std::uint64_t start = 800;
  for (const auto& tone : tones) {
    const double hz = 440.0 * std::exp2((tone.midi - 69) / 12.0 + tone.cents / 1200.0);
    ToneRecord record = model;
    record.start = start;
    record.end = start + 3000;
    record.totals.frequency_sum = 2 * hz;
    record.passes[0].fundamental = hz * std::exp2(tone.spread / 1200.0);
    record.passes[1].fundamental = hz * std::exp2(-tone.spread / 1200.0);
    if (tone.expected) record.expected = MidiNote{tone.midi, 0.0};
    result.tones.push_back(record);
    start += 3200;
  }
  result.tones[2].octave_check = OctaveCheck{164.8, 329.6, 330.2, true, OctaveEvidence::spectrum};
  result.tones[3].split_from = 4;
  result.tones.push_back(short_tone);
  result.tones.back().start = start;
  result.tones.back().end = start + 500;
  return result;
}

std::string page_of(const RecordingResult& result, bool partials,
                    const std::optional<Tuning>& tuning = std::nullopt,
                    const std::optional<BestReference>& best = std::nullopt) {
  HtmlReport report("toneprint-batch test", 440.0, partials, tuning);
  std::string page = report.begin();
  page += report.recording(result, {{"--harmonics", "2"}});  // before the end, which it adds to
  return page + report.end(best);
}

// "12.34": cents as the tables write them.
std::string formatted_cents(double cents) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", cents);
  return text;
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
  // The measured tone's caption: A_1 = 1000 and A_2 = 100 at 440 Hz give a
  // centroid of 1200/1100 harmonics, T1 = 10/11, a 20 dB fall in an octave
  // and, without an odd harmonic from 3 up, no odd-to-even ratio.
  EXPECT_EQ(test::occurrences(all,
                              "; centroid 480.0 Hz (harmonic 1.09), tristimulus "
                              "0.91/0.09/0.00, slope -20.0 dB/octave, from 2 harmonics"),
            1u);
  result.tones.erase(result.tones.begin());
  const std::string section = report.recording(result, {{"--harmonics", "2"}});
  EXPECT_TRUE(balanced(section));
  EXPECT_EQ(test::occurrences(section, "class=\"tuning\""), 0u);
  EXPECT_EQ(test::occurrences(section, "class=\"timbre\""), 0u);
  EXPECT_EQ(test::occurrences(section, "<figure class=\"tone\""), 2u);
  EXPECT_EQ(test::occurrences(section, "; centroid "), 0u);
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
// zero line; axis labels lie outside the plot. On the page without the
// partials and on the one with them.
TEST(HtmlReport, EveryMarkIsInsideItsPictureAndInItsPlace) {
  const struct {
    RecordingResult result;
    bool partials;
    std::size_t pictures;  // and charts with two axes, each with ticks and a caption
    std::size_t charts;
    std::optional<Tuning> tuning = std::nullopt;
  } cases[] = {
      // The level over time, the tuning, the timbre map, one tone's bars.
      {three_tones("a.wav"), false, 4, 3},
      // And the inharmonicity, four tones' bars and partials.
      {stiff_tones(), true, 12, 3 + 1 + 4 * 2},
      // Five tones' bars, and the deviations by key.
      {judged_tones(), false, 3 + 5 + 1, 2 + 5 + 1, Tuning{}},
  };
  for (const auto& c : cases) {
    std::size_t pictures = 0;
    std::map<std::string, std::vector<std::pair<double, double>>> guides;  // class: (y, zero)
    double width = -1.0, height = -1.0, zero = -1.0, last_bar_end = 0.0;
    std::string kind;  // the picture's class; empty outside a picture
    // Inside an axis: where its line starts, which decides on which side of
    // the plot its labels and caption belong. NaN outside an axis.
    double axis_x = NAN, axis_y = NAN;
    bool axis_line_seen = false, horizontal = false;
    std::size_t axis_labels = 0;
    for (const Tag& tag : tags(page_of(c.result, c.partials, c.tuning, BestReference{441, 1, 4}))) {
      std::map<std::string, std::string> a = tag.a;
      const std::string& name = tag.name;
      const auto number = [&](const char* key) { return tag.number(key); };
      if (name == "svg" && a.count("class")) {
        ++pictures;
        kind = a["class"];
        width = number("width");
        height = number("height");
        last_bar_end = 0.0;
        continue;
      }
      if (name == "/svg") kind.clear();
      if (kind.empty()) continue;
      for (const char* x : {"x", "x1", "x2", "cx"}) {
        if (a.count(x)) {
          EXPECT_TRUE(number(x) >= 0 && number(x) <= width) << kind << ": " << tag.whole;
        }
      }
      for (const char* y : {"y", "y1", "y2", "cy"}) {
        if (a.count(y)) {
          EXPECT_TRUE(number(y) >= 0 && number(y) <= height) << kind << ": " << tag.whole;
        }
      }
      if (name == "rect") {
        EXPECT_LE(number("x") + number("width"), width + 1e-9) << kind << ": " << tag.whole;
        EXPECT_LE(number("y") + number("height"), height + 1e-9) << kind << ": " << tag.whole;
        if (kind == "bars") {
          EXPECT_GT(number("x"), last_bar_end) << tag.whole;
          last_bar_end = number("x") + number("width");
        }
      }
      if (a["class"] == "zero") zero = number("y1");
      if (name == "g" && a["class"] == "axis") {
        axis_x = axis_y = 0.0;
        axis_line_seen = false;
      } else if (name == "/g") {
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
          EXPECT_GT(number("y"), axis_y) << kind << ": " << tag.whole;
        } else {
          EXPECT_LT(number("x"), axis_x) << kind << ": " << tag.whole;
        }
        ++axis_labels;
      }
      if (kind == "tuning" && a["class"].rfind("guide", 0) == 0) {
        guides[a["class"]].emplace_back(number("y1"), zero);
      }
    }
    EXPECT_EQ(pictures, c.pictures);
    for (const auto& [name, lines] : guides) {
      ASSERT_EQ(lines.size(), 2u) << name;
      EXPECT_NEAR(lines[0].first + lines[1].first, 2 * lines[0].second, 0.02) << name;
    }
    EXPECT_EQ(guides.size(), 2u);
    EXPECT_GE(axis_labels, c.charts * 2u * 3u);
  }
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

// With the partials, each measured tone gets its chart, caption and cells,
// the recording its inharmonicity chart and the tuning chart the vibrato;
// without them the page is as it was, whatever the tones hold.
TEST(HtmlReport, ShowsThePartialsOnlyWhereTheRunMeasuredThem) {
  const std::string with = page_of(stiff_tones(), true);
  const std::string without = page_of(stiff_tones(), false);
  RecordingResult unread = stiff_tones();
  for (ToneRecord& tone : unread.tones) tone.partials.reset();
  EXPECT_TRUE(without == page_of(unread, false));
  EXPECT_TRUE(balanced(with));
  const struct {
    const char* mark;
    std::size_t with;
  } marks[] = {
      {"class=\"partials\" role=\"img\"", 4},       // a chart per measured tone
      {"<div class=\"tone-charts\">", 4},           // beside its bars
      {"class=\"inharmonicity\" role=\"img\"", 1},  // B against note
      {"<g class=\"b-dot\">", 3},                   // the tones with a positive B
      {">1 of 4 measured tones left out: no positive B</text>", 1},
      {"<rect class=\"vibrato\"", 1},
      {"; vibrato 5.6 Hz ±23 c", 1},  // the caption
      {", vibrato 5.6 Hz ±23 c</title>", 1},
      {"; B = 1.00×10⁻⁴ ± 2.0×10⁻⁵", 1},
      {"<th>spread_cents</th><th>B</th><th>vibrato</th><th>max_fundamental</th>", 6},
      {"<td>1.000e-04 ± 2.0e-05</td><td></td>", 2},  // tone 1's table and the numbers
      {"<td>-1.000e-09 ± 1.0e-09</td><td>5.60 Hz ±23.0 c</td>", 2},
      {"--vibrato: ", 2},  // the style sheet's colours, light and dark
  };
  for (const auto& m : marks) {
    EXPECT_EQ(test::occurrences(with, m.mark), m.with) << m.mark;
    EXPECT_EQ(test::occurrences(without, m.mark), 0u) << m.mark;
  }
  // Asked for but not read: said so, and no B to draw.
  const std::string none = page_of(unread, true);
  EXPECT_EQ(test::occurrences(none, "; partials not read: no pass was long enough for them."), 4u);
  EXPECT_EQ(test::occurrences(none, "<p>No tone has a positive inharmonicity B"), 1u);
  EXPECT_EQ(test::occurrences(none, "role=\"img\""), 3u + 4u);  // three charts and the bars
}

// The partials chart: dots above the zero line for sharp partials, below
// it for flat ones, in proportion, a partial below the noise hollow on the
// axis, the stretch curve from 0 at partial 1 upwards. The inharmonicity
// chart: each whisker around its dot, the decades evenly spaced and the
// dots on them. The vibrato's bar centred on its dot, 46 cents long.
TEST(HtmlReport, PartialsMarksLieWhereTheirValuesSay) {
  std::string kind, pending, group;
  int partial_charts = 0;
  double zero = NAN, axis_line = NAN, dot_y = NAN;
  bool in_axis = false, axis_first = false;
  std::map<std::string, double> partial_y;  // tone 1's, by title
  std::vector<double> curve_y, decades, guides;
  struct BDot {
    std::string title;
    double x1 = NAN, y1 = NAN, x2 = NAN, y2 = NAN, cx = NAN, cy = NAN;
  };
  std::vector<BDot> b_dots;
  double vibrato_top = NAN, vibrato_height = NAN, vibrato_dot = NAN;
  for (const Tag& tag : tags(page_of(stiff_tones(), true))) {
    if (tag.name == "svg" && tag.a.count("class")) {
      kind = tag.attr("class");
      partial_charts += kind == "partials";
      continue;
    }
    if (tag.name == "/svg") kind.clear();
    if (tag.name == "g") group = tag.attr("class");
    if (tag.name == "/g") group.clear();
    if (tag.name == "g" && group == "axis") in_axis = axis_first = true;
    if (tag.name == "/g") in_axis = false;
    if (tag.name == "g" && group == "b-dot") b_dots.emplace_back();
    if (kind == "partials" && partial_charts == 1) {
      if (in_axis && axis_first && tag.name == "line") {
        axis_first = false;
        if (tag.number("y1") == tag.number("y2")) axis_line = tag.number("y1");
      }
      if (tag.attr("class") == "zero") zero = tag.number("y1");
      if (tag.name == "circle" && tag.whole.back() != '/') pending = "dot";
      if (tag.name == "circle") dot_y = tag.number("cy");
      if (tag.name == "title" && pending == "dot") partial_y[tag.text] = dot_y;
      if (tag.name == "title") pending.clear();
      if (tag.name == "path") {
        std::istringstream d(tag.attr("d"));
        for (std::string x, y; d >> x >> y;) curve_y.push_back(std::stod(y));
      }
    }
    if (kind == "inharmonicity") {
      if (group == "axis" && tag.attr("class") == "grid" && tag.number("y1") == tag.number("y2")) {
        decades.push_back(tag.number("y1"));
      }
      if (group == "b-dot") {
        BDot& dot = b_dots.back();
        if (tag.name == "title") dot.title = tag.text;
        if (tag.attr("class") == "whisker") {
          dot.x1 = tag.number("x1"), dot.y1 = tag.number("y1");
          dot.x2 = tag.number("x2"), dot.y2 = tag.number("y2");
        }
        if (tag.name == "circle") dot.cx = tag.number("cx"), dot.cy = tag.number("cy");
      }
    }
    if (kind == "tuning") {
      if (tag.attr("class") == "guide") guides.push_back(tag.number("y1"));
      if (group == "tuning-dot" && tag.attr("class") == "vibrato") {
        vibrato_top = tag.number("y"), vibrato_height = tag.number("height");
      }
      if (group == "tuning-dot" && tag.name == "circle" && !std::isnan(vibrato_top) &&
          std::isnan(vibrato_dot)) {
        vibrato_dot = tag.number("cy");
      }
    }
  }

  // Tone 1's partials.
  ASSERT_EQ(partial_y.size(), 4u);
  const double on = partial_y.at("partial 1: 0.0 c, 0.0 dB");
  const double sharp = partial_y.at("partial 2: +10.0 c, -6.0 dB");
  const double flat = partial_y.at("partial 3: -4.0 c, -12.0 dB");
  EXPECT_NEAR(on, zero, 0.01);
  EXPECT_LT(sharp, zero - 10);  // above, in drawing units
  EXPECT_GT(flat, zero + 4);
  EXPECT_NEAR((zero - sharp) / (flat - zero), 10.0 / 4.0, 0.01);
  EXPECT_NEAR(partial_y.at("partial 4: below the noise"), axis_line, 0.01);
  ASSERT_GE(curve_y.size(), 2u);
  EXPECT_NEAR(curve_y.front(), zero, 0.01);
  EXPECT_LT(curve_y.back(), zero);  // B > 0 stretches the partials sharp
  EXPECT_TRUE(std::is_sorted(curve_y.rbegin(), curve_y.rend()));

  // The inharmonicity chart, its tones in rising B.
  ASSERT_EQ(b_dots.size(), 3u);
  ASSERT_GE(decades.size(), 3u);
  std::sort(decades.begin(), decades.end());
  const double decade = decades[1] - decades[0];
  for (std::size_t i = 1; i < decades.size(); ++i) {
    EXPECT_NEAR(decades[i] - decades[i - 1], decade, 0.02);
  }
  EXPECT_EQ(b_dots[0].title, "Tone 1, A2 0.0 c: B = 1.00×10⁻⁴ ± 2.0×10⁻⁵ (the spread of its passes)");
  for (std::size_t i = 0; i < b_dots.size(); ++i) {
    const BDot& dot = b_dots[i];
    EXPECT_EQ(dot.x1, dot.cx);
    EXPECT_EQ(dot.x2, dot.cx);
    EXPECT_LT(dot.y1, dot.cy) << dot.title;
    EXPECT_GT(dot.y2, dot.cy) << dot.title;
    if (i > 0) {
      EXPECT_LT(dot.cy, b_dots[i - 1].cy) << dot.title;
    }
  }
  const auto on_a_decade = [&](double y) {
    return std::any_of(decades.begin(), decades.end(),
                       [y](double line) { return std::abs(line - y) < 0.02; });
  };
  EXPECT_TRUE(on_a_decade(b_dots[0].cy));  // 1e-4
  EXPECT_TRUE(on_a_decade(b_dots[1].cy));  // 1e-3
  EXPECT_NEAR(b_dots[0].cy - b_dots[1].cy, decade, 0.02);
  EXPECT_NEAR(b_dots[0].cy - b_dots[0].y1, decade * std::log10(1.2), 0.02);  // 1.2e-4
  EXPECT_NEAR(b_dots[2].y2, decades.back(), 0.01);  // 8e-3 - 1e-2 < 0: to the axis

  // The vibrato of ±23 cents against the guides at ±5.
  ASSERT_EQ(guides.size(), 2u);
  const double ten_cents = std::abs(guides[0] - guides[1]);
  EXPECT_NEAR(vibrato_top + vibrato_height / 2, vibrato_dot, 0.01);
  EXPECT_NEAR(vibrato_height, 4.6 * ten_cents, 0.06);  // each to two decimals
}

// toneprint-batch with --partials draws a partials chart for each tone
// whose JSON has partials and a dot for each positive B; without it, none.
TEST(HtmlReportRun, DrawsThePartialsThatTheJsonReports) {
  const test::TempDir dir;
  const std::string demo = std::string(TONEPRINT_SOURCE_DIR) + "/demo/demo.wav";
  const auto run = [&](const std::string& arguments, const char* name) {
    const test::ProgramRun run = test::run_program(
        TONEPRINT_BATCH_BINARY,
        "-q " + arguments + " -o \"" + dir.file(name) + "\" \"" + demo + "\"",
        dir.write("input", ""), dir.file("console"));
    EXPECT_EQ(run.status, 0) << run.console;
    return test::read_file(dir.file(name));
  };
  const std::string json = run("-f json --partials", "run.json");
  const std::string with = run("-f html --partials", "with.html");
  const std::string without = run("-f html", "without.html");
  const std::size_t read = test::occurrences(json, "\"partials\": [");
  const std::size_t positive =
      test::occurrences(json, "\"b\": ") - test::occurrences(json, "\"b\": -");
  ASSERT_GE(read, 1u);
  const struct {
    const char* mark;
    std::size_t with;
  } marks[] = {
      {"class=\"partials\" role=\"img\"", read},
      {"<g class=\"b-dot\">", positive},
      {"<th class=\"text\">--partials</th><td>on</td>", 1},
      {"<th>B</th><th>vibrato</th>", test::occurrences(with, "<table") - 1},  // not the settings
  };
  for (const auto& m : marks) {
    EXPECT_EQ(test::occurrences(with, m.mark), m.with) << m.mark;
    EXPECT_EQ(test::occurrences(without, m.mark), 0u) << m.mark;
  }
}

TEST(ReportFigures, WriteAndScaleTheStretchAsReadersKnowIt) {
  // Partial 4 of B = 1/4 lies at 4 sqrt(5 / 1.25) = 8 times partial 1: an
  // octave above 4 f1. For a small B the stretch is about 600 / ln 2 ×
  // B (n² - 1) cents.
  const struct {
    double b, n, cents, tolerance;
  } stretches[] = {{0.0, 7, 0.0, 0.0},
                   {1e-3, 1, 0.0, 0.0},
                   {0.25, 4, 1200.0, 1e-9},
                   {1e-5, 10, 600.0 / std::numbers::ln2 * 1e-5 * 99, 1e-3},
                   {1e-6, 30, 600.0 / std::numbers::ln2 * 1e-6 * 899, 1e-3}};
  for (const auto& s : stretches) {
    EXPECT_NEAR(stretch_cents(s.b, s.n), s.cents, s.tolerance) << s.b << " " << s.n;
  }
  EXPECT_TRUE(std::isnan(stretch_cents(-1.0, 3)));
  const struct {
    double value;
    int digits;
    const char* text;
  } texts[] = {{3e-4, 3, "3.00×10⁻⁴"},         {9.996e-5, 3, "1.00×10⁻⁴"},
               {-1.405e-10, 2, "-1.4×10⁻¹⁰"}, {0.0, 3, "0"},
               {2.5, 2, "2.5"},               {1.5e12, 2, "1.5×10¹²"}};
  for (const auto& t : texts) EXPECT_EQ(scientific_text(t.value, t.digits), t.text);
  EXPECT_EQ(decade_text(-6), "10⁻⁶");
  EXPECT_EQ(vibrato_text({5.6, 23.2}), "vibrato 5.6 Hz ±23 c");
  // Decades evenly apart, a value 10^-3 three fifths of the way up.
  const LogScale y{-6, -1, 250.0, 0.0};
  const struct {
    double value, drawn;
  } points[] = {{1e-6, 250.0}, {1e-3, 100.0}, {1e-1, 0.0}, {0.0, 250.0}};
  for (const auto& p : points) EXPECT_NEAR(y(p.value), p.drawn, 1e-9) << p.value;
}

// The deviation-by-key chart, read back through its own axes: each tone's
// dot at its deviation and on its key, the whisker over its spread, the
// zero line at 0 and the best reference's line at the cents its A4 lies
// from the tuning's; the guarded and split tones marked, and the tone 1200
// c off drawn at the edge.
TEST(HtmlReport, TheTuningViewDrawsEachToneAtItsDeviationAndKey) {
  const BestReference best{441.0, 0.12, 4};  // 1200 log2(441 / 440) = +3.93 c
  const std::string page = page_of(judged_tones(), false, Tuning{}, best);
  EXPECT_TRUE(balanced(page));
  std::string kind, group, dot_title;
  std::vector<std::pair<double, double>> y_ticks, x_notes;  // (value, drawn)
  struct Dot {
    double cx = NAN, cy = NAN, top = NAN, bottom = NAN;
    bool guarded = false, split = false;
  };
  std::map<std::string, Dot> dots;  // by title
  double zero = NAN, reference = NAN;
  std::size_t off_scale = 0;
  std::string reference_label;
  for (const Tag& tag : tags(page)) {
    if (tag.name == "svg" && tag.a.count("class")) kind = tag.attr("class");
    if (tag.name == "/svg") kind.clear();
    if (kind != "deviation") continue;
    if (tag.name == "g") group = tag.attr("class"), dot_title.clear();
    if (tag.name == "/g") group.clear();
    // The ticks' labels: the deviations' left of the plot, the notes' below.
    if (group == "axis" && tag.name == "text" && tag.attr("text-anchor") == "end") {
      y_ticks.emplace_back(std::stod(tag.text), tag.number("y") - 4);
    }
    if (group == "axis" && tag.name == "text" && tag.attr("text-anchor") == "middle" &&
        parse_note(tag.text)) {
      x_notes.emplace_back(*parse_note(tag.text), tag.number("x"));
    }
    if (tag.attr("class") == "zero" && std::isnan(zero)) zero = tag.number("y1");
    if (tag.attr("class") == "reference" && std::isnan(reference)) reference = tag.number("y1");
    if (tag.attr("class") == "reference-label") reference_label = tag.text;
    if (group.rfind("target-dot", 0) != 0) continue;
    if (tag.name == "title") dot_title = tag.text.substr(0, tag.text.find(':'));
    if (dot_title.empty()) continue;
    Dot& dot = dots[dot_title];
    dot.split = group == "target-dot split";
    if (tag.name == "circle") dot.cx = tag.number("cx"), dot.cy = tag.number("cy");
    if (tag.attr("class") == "whisker") dot.top = tag.number("y1"), dot.bottom = tag.number("y2");
    if (tag.attr("class") == "guard-mark") dot.guarded = true;
    off_scale += tag.attr("class") == "off-scale";
  }
  ASSERT_GE(y_ticks.size(), 2u);
  ASSERT_GE(x_notes.size(), 2u);
  // The scales as the axes draw them.
  const auto drawn = [](const std::vector<std::pair<double, double>>& ticks, double value) {
    const auto& [v0, d0] = ticks.front();
    const auto& [v1, d1] = ticks.back();
    return d0 + (value - v0) * (d1 - d0) / (v1 - v0);
  };
  const double key = std::abs(drawn(x_notes, 1.0) - drawn(x_notes, 0.0));
  EXPECT_NEAR(zero, drawn(y_ticks, 0.0), 1.0);
  EXPECT_NEAR(reference, drawn(y_ticks, 1200.0 * std::log2(441.0 / 440.0)), 1.0);
  EXPECT_EQ(reference_label, "best A4 = 441.00 Hz ± 0.12 (4 tones)");
  const double spread = judged_tones().tones[1].spread_cents();
  ASSERT_GT(spread, 7.9);
  const struct {
    const char* title;
    int midi;
    double cents, spread;
    bool guarded, split;
  } expected[] = {{"judged.wav, tone 1", 69, 10.0, 0.0, false, false},
                  {"judged.wav, tone 2", 60, -5.0, spread, false, false},
                  {"judged.wav, tone 3", 64, 3.0, 0.0, true, false},
                  {"judged.wav, tone 4", 67, -8.0, 0.0, false, true}};
  ASSERT_EQ(dots.size(), 5u);  // and the tone 1200 c off, at the edge
  for (const auto& e : expected) {
    ASSERT_EQ(dots.count(e.title), 1u) << e.title;
    const Dot& dot = dots.at(e.title);
    EXPECT_NEAR(dot.cy, drawn(y_ticks, e.cents), 1.0) << e.title;
    EXPECT_LT(std::abs(dot.cx - drawn(x_notes, e.midi)), key / 2) << e.title;
    EXPECT_EQ(dot.guarded, e.guarded) << e.title;
    EXPECT_EQ(dot.split, e.split) << e.title;
    if (e.spread > 0.0) {
      EXPECT_NEAR(dot.top, drawn(y_ticks, e.cents + e.spread), 1.0) << e.title;
      EXPECT_NEAR(dot.bottom, drawn(y_ticks, e.cents - e.spread), 1.0) << e.title;
    } else {
      EXPECT_TRUE(std::isnan(dot.top)) << e.title;
    }
  }
  EXPECT_EQ(off_scale, 1u);
  EXPECT_TRUE(std::isnan(dots.at("judged.wav, tone 5").cy));
  const struct {
    const char* mark;
    std::size_t count;
  } marks[] = {
      {">1 tone lies beyond ±20 c: drawn at the edge</text>", 1},
      {">octave guard took the expected pitch</text>", 1},  // the legend
      {">split from notes played legato</text>", 1},
      {"Targets: equal on C, A4 = 440 Hz, no stretch.", 1},
      {"+3.9 c from A4 = 440 Hz.</figcaption>", 1},
  };
  for (const auto& m : marks) EXPECT_EQ(test::occurrences(page, m.mark), m.count) << m.mark;
  // No best reference: no line; no measured tone: no chart, and why.
  const std::string without_best = page_of(judged_tones(), false, Tuning{});
  EXPECT_EQ(test::occurrences(without_best, "class=\"reference\""), 0u);
  EXPECT_EQ(test::occurrences(without_best, "class=\"deviation\" role=\"img\""), 1u);
  RecordingResult unmeasured = judged_tones();
  unmeasured.tones.erase(unmeasured.tones.begin(), unmeasured.tones.end() - 1);
  const std::string none = page_of(unmeasured, false, Tuning{});
  EXPECT_TRUE(balanced(none));
  EXPECT_EQ(test::occurrences(none, "<p>No tone was measured, so none lies anywhere from its "
                                    "target. Targets: equal on C, A4 = 440 Hz, no stretch.</p>"),
            1u);
}

// With a target, every table gets its cells after cents, before the
// partials' after spread_cents; without one, the page is as it was,
// whatever the tones hold.
TEST(HtmlReport, ShowsTheTargetOnlyWhereTheRunAskedForOne) {
  RecordingResult plain = judged_tones();
  for (ToneRecord& tone : plain.tones) {
    tone.expected.reset();
    tone.octave_check.reset();
    tone.split_from.reset();
  }
  Tuning werckmeister;
  werckmeister.temperament = *read_temperament("werckmeister-iii").temperament;
  werckmeister.a4 = 415.0;
  werckmeister.stretch_cents = 1.5;
  const struct {
    bool partials;
    std::optional<Tuning> tuning;
    const char* head;
    std::size_t tables;
  } cases[] = {
      {false, std::nullopt, "<th>cents</th><th>spread_cents</th>", 7},
      {true, std::nullopt, "<th>spread_cents</th><th>B</th><th>vibrato</th><th>max_", 7},
      {false, Tuning{},
       "<th>cents</th><th>expected_note</th><th>expected_hz</th><th>deviation_cents</th>"
       "<th>spread_cents</th><th>max_",
       7},
      {true, werckmeister,
       "<th>cents</th><th>expected_note</th><th>expected_hz</th><th>deviation_cents</th>"
       "<th>spread_cents</th><th>B</th><th>vibrato</th><th>max_",
       7},
  };
  for (const auto& c : cases) {
    const std::string page = page_of(judged_tones(), c.partials, c.tuning);
    EXPECT_EQ(test::occurrences(page, c.head), c.tables) << c.head;  // six tones and the numbers
    EXPECT_EQ(test::occurrences(page, "Tuning by key"), c.tuning ? 1u : 0u);
    EXPECT_EQ(test::occurrences(page, "--reference: "), c.tuning ? 2u : 0u);
    if (!c.tuning) {
      EXPECT_TRUE(page == page_of(plain, c.partials)) << c.partials;
    }
  }
  // Tone 1, A4 +10 c, in its table and the numbers; against A4 = 415 Hz
  // (Werckmeister III, stretched, leaves A4 where it is) it lies 10 c +
  // 1200 log2(440 / 415) from its target.
  EXPECT_EQ(test::occurrences(page_of(judged_tones(), false, Tuning{}),
                              "<td>A4</td><td>10.00</td><td>A4</td><td>440.000</td><td>10.00</td>"),
            2u);
  const std::string werckmeister_page = page_of(judged_tones(), false, werckmeister);
  EXPECT_EQ(test::occurrences(werckmeister_page,
                              "<td>A4</td><td>415.000</td><td>" +
                                  formatted_cents(10.0 + 1200.0 * std::log2(440.0 / 415.0)) +
                                  "</td>"),
            2u);
  EXPECT_EQ(test::occurrences(werckmeister_page,
                              "Targets: werckmeister-iii on C, A4 = 415 Hz, stretch +1.5 c per "
                              "octave."),
            1u);
}

// toneprint-batch with a target draws a dot for each tone whose JSON has a
// deviation, and its table cells and best reference agree with the JSON.
TEST(HtmlReportRun, DrawsTheDeviationsThatTheJsonReports) {
  const test::TempDir dir;
  const std::string demo = std::string(TONEPRINT_SOURCE_DIR) + "/demo/demo.wav";
  const auto run = [&](const char* format, const char* name) {
    const test::ProgramRun run = test::run_program(
        TONEPRINT_BATCH_BINARY,
        std::string("-q --temperament werckmeister-iii --a4 415 -f ") + format + " -o \"" +
            dir.file(name) + "\" \"" + demo + "\"",
        dir.write("input", ""), dir.file("console"));
    EXPECT_EQ(run.status, 0) << run.console;
    return test::read_file(dir.file(name));
  };
  const nlohmann::json json = nlohmann::json::parse(run("json", "run.json"));
  const std::string page = run("html", "run.html");
  std::size_t deviations = 0;
  for (const nlohmann::json& tone : json["recordings"][0]["tones"]) {
    if (tone["deviation_cents"].is_null()) continue;
    ++deviations;
    char cells[128];
    std::snprintf(cells, sizeof cells, "<td>%s</td><td>%.3f</td><td>%.2f</td>",
                  tone["expected_note"].get<std::string>().c_str(),
                  tone["expected_hz"].get<double>(), tone["deviation_cents"].get<double>());
    EXPECT_EQ(test::occurrences(page, cells), 2u) << cells;  // its table and the numbers
  }
  ASSERT_GE(deviations, 1u);
  EXPECT_EQ(test::occurrences(page, "<g class=\"target-dot"), deviations);
  const nlohmann::json& best = json["best_reference"];
  char label[96];
  std::snprintf(label, sizeof label, ">best A4 = %.2f Hz ± %.2f (%zu tones)</text>",
                best["a4_hz"].get<double>(), best["interval_hz"].get<double>(),
                best["tones"].get<std::size_t>());
  EXPECT_EQ(test::occurrences(page, label), 1u) << label;
  EXPECT_EQ(test::occurrences(page, "Targets: werckmeister-iii on C, A4 = 415 Hz, no stretch."),
            1u);
}
