#include "html/comparison_page.h"

#include <cctype>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <set>

#include "html/page_checks.h"
#include "support/test_support.h"

using namespace toneprint;
using test::Tag;

namespace {

// A set's tones of one note whose harmonic k lies `relative(k)` dB below
// the fundamental, which lies at `fundamental` dBFS; `tones` of them,
// spread by `spread` dB and cents where there are two or more.
SetNote set_note(std::size_t tones, double fundamental, double deviation, int harmonics,
                 double tilt, double spread = 0.0) {
  SetNote s;
  s.tones = tones;
  const auto value = [&](double mean) { return Spread{mean, tones > 1 ? spread : 0.0, tones}; };
  for (int k = 1; k <= harmonics; ++k) {
    const double relative = k == 1 ? 0.0 : -tilt * std::log2(k) - 3.0 * (k % 2 == 0);
    s.relative_db.emplace_back(value(relative));
    s.level_dbfs.emplace_back(value(fundamental + relative));
  }
  s.deviation_cents = value(deviation);
  s.centroid_harmonic = value(1.0 + 10.0 / tilt);
  s.odd_even_db = value(3.0);
  s.t1 = value(0.5);
  s.t2 = value(0.3 + tilt / 200.0);
  s.t3 = value(0.2 - tilt / 200.0);
  s.slope_db_per_octave = value(-tilt);
  return s;
}

// The differences from the reference (set 0) as the comparison takes them:
// the fundamental's absolute level at k = 1, the relative ones above it.
ComparedNote compared(int midi, std::vector<std::optional<SetNote>> sets) {
  ComparedNote note;
  note.note = midi;
  note.sets = std::move(sets);
  for (const std::optional<SetNote>& set : note.sets) {
    std::vector<std::optional<double>> differences;
    if (set && note.sets[0]) {
      const SetNote& reference = *note.sets[0];
      for (std::size_t k = 1; k <= set->level_dbfs.size() && k <= reference.level_dbfs.size();
           ++k) {
        const auto& mine = k == 1 ? set->level_dbfs : set->relative_db;
        const auto& theirs = k == 1 ? reference.level_dbfs : reference.relative_db;
        differences.emplace_back(mine[k - 1]->mean - theirs[k - 1]->mean);
      }
    }
    note.difference_db.push_back(differences);
  }
  return note;
}

SetSummary summary(const std::string& name, std::size_t tones, std::size_t notes, double tilt) {
  SetSummary s;
  s.name = name;
  s.tones = tones;
  s.notes = notes;
  if (tones == 0) return s;
  const SetNote typical = set_note(tones, -12.0, 1.5, 6, tilt, 1.0);
  s.relative_db = typical.relative_db;
  s.level_dbfs = typical.level_dbfs;
  s.deviation_cents = typical.deviation_cents;
  s.centroid_harmonic = typical.centroid_harmonic;
  s.odd_even_db = typical.odd_even_db;
  s.t1 = typical.t1;
  s.t2 = typical.t2;
  s.t3 = typical.t3;
  s.slope_db_per_octave = typical.slope_db_per_octave;
  for (std::size_t k = 1; k <= trend_harmonics; ++k) {
    // Through the typical level at C4, falling 2 dB an octave.
    s.trends.emplace_back(TrendLine{s.level_dbfs[k - 1]->mean + 10.0, -2.0, notes});
  }
  return s;
}

// Three sets: the reference ("before <voicing>", to be escaped) and two
// others. C4 and E4 are matched by all three, G4 by the reference and the
// last (whose C4 has two tones); D4 only the second set measured, B4 only
// the reference.
Comparison three_sets() {
  Comparison c;
  c.sets = {summary("before <voicing> & after", 5, 4, 6.0), summary("after.json", 3, 3, 4.0),
            summary("rank/2026", 5, 3, 9.0)};
  c.harmonics = 8;
  c.matched = {
      compared(60, {set_note(1, -10, 2.0, 8, 6.0), set_note(1, -13, -4.0, 8, 4.0),
                    set_note(2, -9, 6.0, 8, 9.0, 2.5)}),
      compared(64, {set_note(1, -11, -1.0, 8, 6.0), set_note(1, -12, 3.0, 7, 4.0),
                    set_note(1, -8, 0.5, 8, 9.0)}),
      compared(67,
               {set_note(1, -12, 4.0, 8, 6.0), std::nullopt, set_note(2, -14, -2.0, 6, 9.0, 1.0)}),
  };
  c.unmatched = {compared(62, {std::nullopt, set_note(1, -9, 1.0, 8, 4.0), std::nullopt}),
                 compared(71, {set_note(1, -15, -6.0, 8, 6.0), std::nullopt, std::nullopt})};
  return c;
}

// `count` sets that all measured A4 once: the palette's eight colours and
// then the first again.
Comparison many_sets(std::size_t count) {
  Comparison c;
  std::vector<std::optional<SetNote>> sets;
  for (std::size_t i = 0; i < count; ++i) {
    c.sets.push_back(summary("set " + std::to_string(i), 1, 1, 4.0 + static_cast<double>(i)));
    sets.emplace_back(
        set_note(1, -10.0 - static_cast<double>(i), 0.0, 4, 4.0 + static_cast<double>(i)));
  }
  c.matched = {compared(69, sets)};
  return c;
}

// A set with no tones, beside one whose A#3 has a fundamental only.
Comparison bare_sets() {
  Comparison c;
  c.sets = {summary("empty", 0, 0, 6.0), summary("lone fundamental", 1, 1, 6.0)};
  c.unmatched = {compared(58, {std::nullopt, set_note(1, -20, 0.0, 1, 6.0)})};
  return c;
}

// Two sets matched on A#3 where neither has a harmonic above the
// fundamental, and values that are not numbers wherever a record can hold
// one.
Comparison broken_values() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  Comparison c;
  c.sets = {summary("a", 1, 1, 6.0), summary("b", 1, 1, 6.0)};
  c.sets[0].trends[0]->slope_db_per_octave = inf;
  c.sets[1].deviation_cents = Spread{nan, nan, 2};
  c.matched = {compared(58, {set_note(1, -20, 0.0, 1, 6.0), set_note(1, -22, 0.0, 1, 6.0)})};
  c.matched[0].sets[1]->deviation_cents = Spread{inf, 0.0, 1};
  c.matched[0].sets[1]->t1 = Spread{nan, 0.0, 1};
  c.matched[0].difference_db[1][0] = nan;
  return c;
}

// The ids of the page's figures of notes, in order.
std::vector<std::string> note_figures(const std::vector<Tag>& page) {
  std::vector<std::string> ids;
  for (const Tag& tag : page) {
    if (tag.name == "figure" && tag.attr("class") == "compared-note") ids.push_back(tag.attr("id"));
  }
  return ids;
}

// The unmatched section's items as text, tags left out.
std::vector<std::string> unmatched_items(const std::string& page) {
  std::vector<std::string> items;
  const std::size_t section = page.find("<section id=\"unmatched\">");
  if (section == std::string::npos) return {"no unmatched section"};
  const std::string rest = page.substr(section, page.find("</section>", section) - section);
  for (std::size_t at = rest.find("<li>"); at != std::string::npos;
       at = rest.find("<li>", at + 1)) {
    std::string text;
    for (const Tag& tag : test::tags(rest.substr(at, rest.find("</li>", at) - at))) {
      if (tag.name != "title") text += tag.text;
    }
    items.push_back(text);
  }
  if (items.empty()) {
    for (const Tag& tag : test::tags(rest)) {
      if (tag.name == "p") items.push_back(tag.text);
    }
  }
  return items;
}

// "nan" or "inf" as a word of its own: a number that was not one.
bool has_non_number(const std::string& page) {
  for (const char* word : {"nan", "inf"}) {
    for (std::size_t at = page.find(word); at != std::string::npos; at = page.find(word, at + 1)) {
      const auto letter = [&](std::size_t i) {
        return i < page.size() && std::isalpha(static_cast<unsigned char>(page[i]));
      };
      if ((at == 0 || !letter(at - 1)) && !letter(at + 3)) return true;
    }
  }
  return false;
}

// What breaks a chart's geometry: a mark outside its picture, an axis's
// label on the plot's side of the axis, two tick labels of one axis on
// one another, or a legend that reaches down into the plot.
std::vector<std::string> geometry_faults(const std::vector<Tag>& page) {
  std::vector<std::string> faults;
  double width = 0, height = 0;
  std::string kind;
  double axis_x = NAN, axis_y = NAN;
  bool in_axis = false, axis_line_seen = false, horizontal = false;
  // An axis's tick labels: their position along it, half their extent,
  // and their place across it (the caption's row is another).
  struct Tick {
    double position, half, across;
  };
  std::vector<Tick> ticks;
  std::vector<double> legend_baselines;
  int legend_depth = 0, depth = 0;
  const auto fault = [&](const Tag& tag, const char* what) {
    faults.push_back(kind + ": " + what + ": " + tag.whole);
  };
  for (const Tag& tag : page) {
    const std::string& name = tag.name;
    if (name == "svg" && tag.attr("class") != "key" && tag.a.count("class")) {
      kind = tag.attr("class");
      width = tag.number("width");
      height = tag.number("height");
      legend_baselines.clear();
      continue;
    }
    if (name == "/svg") kind.clear();
    if (kind.empty()) continue;
    for (const char* x : {"x", "x1", "x2", "cx"}) {
      if (tag.a.count(x) && !(tag.number(x) >= 0 && tag.number(x) <= width)) fault(tag, "outside");
    }
    for (const char* y : {"y", "y1", "y2", "cy"}) {
      if (tag.a.count(y) && !(tag.number(y) >= 0 && tag.number(y) <= height)) fault(tag, "outside");
    }
    if (name == "rect" && (tag.number("x") + tag.number("width") > width + 1e-9 ||
                           tag.number("y") + tag.number("height") > height + 1e-9)) {
      fault(tag, "outside");
    }
    if (name == "g") {
      ++depth;
      if (tag.attr("class") == "legend") legend_depth = depth;
      if (tag.attr("class") == "axis") {
        in_axis = true;
        axis_line_seen = false;
        ticks.clear();
      }
    } else if (name == "/g") {
      if (depth == legend_depth) legend_depth = 0;
      --depth;
      in_axis = false;
    } else if (legend_depth > 0 && name == "text") {
      legend_baselines.push_back(tag.number("y"));
    } else if (in_axis && !axis_line_seen) {
      axis_line_seen = true;
      horizontal = tag.number("y1") == tag.number("y2");
      axis_x = tag.number("x1");
      axis_y = std::min(tag.number("y1"), tag.number("y2"));
      for (const double baseline : legend_baselines) {
        if (!horizontal && baseline + 4 > axis_y) fault(tag, "legend over the plot");
      }
    } else if (in_axis && name == "text") {
      if (horizontal ? tag.number("y") <= axis_y : tag.number("x") >= axis_x) {
        fault(tag, "label on the plot");
      }
      // Tick labels: about 7 units a character across, 12 high.
      if (tag.a.count("transform")) continue;  // the vertical axis's caption
      const double position = horizontal ? tag.number("x") : tag.number("y");
      const double half = horizontal ? 3.5 * static_cast<double>(tag.text.size()) : 6.0;
      const double across = horizontal ? tag.number("y") : tag.number("x");
      for (const Tick& other : ticks) {
        if (std::abs(other.across - across) < 12 &&
            std::abs(other.position - position) < half + other.half) {
          fault(tag, "labels overlap");
        }
      }
      ticks.push_back({position, half, across});
    }
  }
  return faults;
}

}  // namespace

// The page of each comparison: well-formed, a figure per matched note under
// its id, the unmatched notes listed, every number a number, every chart's
// marks and labels in their place, and each set in one colour throughout.
TEST(ComparisonPage, HasAFigurePerMatchedNoteAndListsTheUnmatched) {
  const struct {
    const char* name;
    Comparison comparison;
    std::vector<std::string> figures;
    std::vector<std::string> unmatched;
    std::vector<std::string> says;
  } cases[] = {
      {"three sets",
       three_sets(),
       {"note-C4", "note-E4", "note-G4"},
       {"D4: measured by after.json (1 tone)",
        "B4: measured by before &lt;voicing&gt; &amp; after (1 tone)"},
       {"before &lt;voicing&gt; &amp; after</b> (the reference): 5 tones, 4 notes",
        "2 tones, deviation +6.0 ±\u00a02.5 c, fundamental -9.0 ±\u00a02.5 dBFS", "not measured"}},
      {"ten sets", many_sets(10), {"note-A4"}, {"Every note was matched."}, {}},
      {"bare sets",
       bare_sets(),
       {},
       {"A#3: measured by lone fundamental (1 tone)"},
       {"empty</b> (the reference): no tones", "nothing to compare note by note"}},
      {"broken values",
       broken_values(),
       {"note-As3"},
       {"Every note was matched."},
       {"No set measured a harmonic above the fundamental", "1 tone, no deviation"}},
      {"no sets", Comparison{}, {}, {"no unmatched section"}, {"No set to compare."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string page = comparison_page(c.comparison, "toneprint-batch test");
    EXPECT_TRUE(test::balanced(page));
    EXPECT_FALSE(has_non_number(page));
    EXPECT_EQ(test::occurrences(page, "<script"), 0u);
    const std::vector<Tag> tags = test::tags(page);
    EXPECT_EQ(note_figures(tags), c.figures);
    EXPECT_EQ(unmatched_items(page), c.unmatched);
    for (const std::string& text : c.says) EXPECT_NE(page.find(text), std::string::npos) << text;
    EXPECT_EQ(geometry_faults(tags), std::vector<std::string>{});

    // Each set's marks carry one colour class and one marker wherever they
    // are drawn; the first eight sets' colours differ, and a set beyond
    // them differs from the one of its colour by its marker.
    std::map<int, std::set<std::string>> colours, markers;
    int set = -1;
    std::vector<int> sets_open;
    bool trends = false;  // in the figure whose markers tell harmonics apart
    for (const Tag& tag : tags) {
      if (tag.name == "svg") trends = tag.attr("class") == "trends";
      if (tag.name == "g" && tag.a.count("data-set")) {
        set = std::stoi(tag.attr("data-set"));
        colours[set].insert(tag.attr("class"));
        sets_open.push_back(set);
      } else if (tag.name == "g") {
        sets_open.push_back(sets_open.empty() ? -1 : sets_open.back());
      } else if (tag.name == "/g" && !sets_open.empty()) {
        sets_open.pop_back();
      } else if (!trends && !sets_open.empty() && sets_open.back() >= 0 &&
                 tag.attr("class").rfind("mark", 0) == 0) {
        markers[sets_open.back()].insert(tag.name + " " + tag.attr("class"));
      }
    }
    std::set<std::string> first_eight;
    for (const auto& [index, classes] : colours) {
      EXPECT_EQ(classes.size(), 1u) << "set " << index;
      if (index < 8) first_eight.insert(*classes.begin());
    }
    EXPECT_EQ(first_eight.size(), std::min<std::size_t>(c.comparison.sets.size(), 8));
    if (c.comparison.sets.size() > 8) {
      EXPECT_EQ(colours[8], colours[0]);
      EXPECT_NE(markers[8], markers[0]);
    }
  }
}

// Debian's Chromium shows the page, as HTML and as XHTML, with a figure for
// each matched note.
TEST(ComparisonPageInBrowser, ShowsAFigurePerMatchedNote) {
  if (const std::string why = test::without_chromium(); !why.empty()) GTEST_SKIP() << why;
  const test::TempDir dir;
  const Comparison comparison = three_sets();
  const std::string page = comparison_page(comparison, "toneprint-batch test");
  for (const char* name : {"page.html", "page.xhtml"}) {
    const std::string dom = test::rendered(dir, dir.write(name, page));
    ASSERT_FALSE(dom.empty()) << "Chromium did not render " << name;
    EXPECT_EQ(test::occurrences(dom, "parsererror"), 0u) << name;
    EXPECT_EQ(test::occurrences(dom, "class=\"compared-note\""), comparison.matched.size()) << name;
    EXPECT_EQ(test::occurrences(dom, "<table class=\"compared-sets\">"), 1u) << name;
  }
}
