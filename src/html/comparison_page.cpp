#include "html/comparison_page.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "html/chart_drawing.h"
#include "html/chart_scale.h"
#include "html/markup_writer.h"

namespace toneprint {
namespace {

// The sets' colours: Okabe and Ito's palette, told apart by colour-blind
// readers, with each colour lightened for the dark scheme (and its black
// and yellow swapped for the foreground and a darker yellow, which read on
// either background). A ninth set takes the first colour again with another
// marker and dash.
constexpr std::string_view comparison_style_sheet = R"(:root {
  --set-0: #0072b2; --set-1: #d55e00; --set-2: #009e73; --set-3: #cc79a7;
  --set-4: #e69f00; --set-5: #56b4e9; --set-6: #1b1b1b; --set-7: #a89500; }
@media (prefers-color-scheme: dark) {
  :root { --set-0: #56b4e9; --set-1: #ff8c42; --set-2: #3fcf9f; --set-3: #e59ccb;
    --set-4: #f0c05a; --set-5: #9bb0ff; --set-6: #e6e6e6; --set-7: #f0e442; }
}
.set-0 { color: var(--set-0); } .set-1 { color: var(--set-1); } .set-2 { color: var(--set-2); }
.set-3 { color: var(--set-3); } .set-4 { color: var(--set-4); } .set-5 { color: var(--set-5); }
.set-6 { color: var(--set-6); } .set-7 { color: var(--set-7); }
.series .mark { fill: currentColor; stroke: var(--bg); stroke-width: 0.8; }
.series .mark.hollow { fill: var(--bg); stroke: currentColor; stroke-width: 1.5; }
.series .join, .series .trend { fill: none; stroke: currentColor; stroke-width: 1.5; }
.series .join { stroke-width: 1.2; opacity: 0.7; }
.series .whisker { stroke: currentColor; stroke-width: 1.2; }
.series rect.bar { fill: currentColor; }
svg.key { display: inline-block; vertical-align: middle; margin-right: 0.3em; }
ol.sets { padding-left: 1.6em; }
ol.sets li, figcaption li { margin: 0.15em 0; }
figcaption ul { list-style: none; padding: 0; margin: 0.3em 0 0; }
.compared-charts { display: flex; flex-wrap: wrap; align-items: flex-start; column-gap: 1em; }
figure.compared-note { border-top: 1px solid var(--grid); padding-top: 0.4em; }
.panel-title { font-weight: 600; }
.empty-note { font-style: italic; }
table.compared-sets th, table.compared-sets td { white-space: normal; }
td.set { text-align: left; overflow-wrap: anywhere; min-width: 8em; }
@media print { .compared-charts { column-gap: 0.5em; } }
)";

constexpr std::size_t palette_size = 8;
// What sets a ninth set apart from the first, a seventeenth from both; and
// one set's harmonics from each other in its trends.
constexpr std::array<const char*, 6> dashes = {"", "6 3", "2 2", "8 3 2 3", "1 3", "12 4"};
enum class Shape { circle, square, triangle, diamond, down_triangle, ring };
constexpr std::array<Shape, 6> shapes = {Shape::circle,  Shape::square,        Shape::triangle,
                                         Shape::diamond, Shape::down_triangle, Shape::ring};

// How many of the first harmonics the summary table lists (from k = 2).
constexpr std::size_t table_harmonics = 5;
// The lowest a relative level's scale reaches below its top.
constexpr double relative_range_db = 100.0;

struct SetStyle {
  std::string css;  // "series set-3"
  Shape shape;
  const char* dash;
};

SetStyle set_style(std::size_t set) {
  const std::size_t round = set / palette_size;
  return {"series set-" + std::to_string(set % palette_size), shapes[round % shapes.size()],
          dashes[round % dashes.size()]};
}

// A value that can be drawn and written: none, or a finite mean (and its
// spread, 0 where not finite).
std::optional<Spread> usable(const std::optional<Spread>& value) {
  if (!value || !std::isfinite(value->mean)) return std::nullopt;
  Spread s = *value;
  if (!std::isfinite(s.spread) || s.spread < 0.0) s.spread = 0.0;
  return s;
}

std::optional<Spread> at(const std::vector<std::optional<Spread>>& values, std::size_t index) {
  return index < values.size() ? usable(values[index]) : std::nullopt;
}

std::optional<double> finite(const std::optional<double>& value) {
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

// "-12.3 ± 0.4" (the spread where two or more values gave it), "–" for none.
std::string spread_text(const std::optional<Spread>& value, const char* format) {
  const std::optional<Spread> s = usable(value);
  if (!s) return "–";
  std::string text = formatted(format, s->mean);
  std::string unsigned_format(format);
  unsigned_format.erase(std::remove(unsigned_format.begin(), unsigned_format.end(), '+'),
                        unsigned_format.end());
  // A line may break before the ±, never after it.
  if (s->count > 1) text += " ±\u00a0" + formatted(unsigned_format.c_str(), s->spread);
  return text;
}

std::string count_text(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// "note-Cs4": a note's figure id, '#' being no character for a fragment.
std::string note_id(int note) {
  std::string id = "note-" + note_name(note);
  std::replace(id.begin(), id.end(), '#', 's');
  return id;
}

// A marker of the shape, centred on (x, y), of radius about r.
void marker(MarkupWriter& w, Shape shape, double x, double y, double r) {
  const auto point = [&](double dx, double dy) {
    return w.number(x + dx) + " " + w.number(y + dy);
  };
  switch (shape) {
    case Shape::circle:
    case Shape::ring: {
      const auto dot = w.open("circle");
      w.attr("class", shape == Shape::ring ? "mark hollow" : "mark")
          .attr("cx", x)
          .attr("cy", y)
          .attr("r", r);
      return;
    }
    case Shape::square: {
      const auto square = w.open("rect");
      w.attr("class", "mark")
          .attr("x", x - r * 0.85)
          .attr("y", y - r * 0.85)
          .attr("width", r * 1.7)
          .attr("height", r * 1.7);
      return;
    }
    case Shape::triangle:
    case Shape::down_triangle: {
      const double s = shape == Shape::triangle ? 1.0 : -1.0;
      const auto path = w.open("path");
      w.attr("class", "mark")
          .attr("d", "M" + point(0, -1.15 * r * s) + " L" + point(r, 0.75 * r * s) + " L" +
                         point(-r, 0.75 * r * s) + " Z");
      return;
    }
    case Shape::diamond: {
      const auto path = w.open("path");
      w.attr("class", "mark")
          .attr("d", "M" + point(0, -1.2 * r) + " L" + point(1.2 * r, 0) + " L" +
                         point(0, 1.2 * r) + " L" + point(-1.2 * r, 0) + " Z");
      return;
    }
  }
}

// A polyline through the points, broken where one is missing.
void join(MarkupWriter& w, const std::vector<std::optional<std::pair<double, double>>>& points,
          const char* dash) {
  std::string path;
  bool pen_down = false;
  for (const auto& p : points) {
    if (!p) {
      pen_down = false;
      continue;
    }
    path.append(pen_down ? " L" : (path.empty() ? "M" : " M"))
        .append(w.number(p->first))
        .append(" ")
        .append(w.number(p->second));
    pen_down = true;
  }
  if (path.find('L') == std::string::npos) return;
  const auto element = w.open("path");
  w.attr("class", "join").attr("d", path);
  if (*dash != '\0') w.attr("stroke-dasharray", dash);
}

// A line of the class, dashed where `dash` is not empty.
void dashed_line(MarkupWriter& w, double x1, double y1, double x2, double y2, const char* css_class,
                 const char* dash) {
  const auto element = w.open("line");
  w.attr("x1", x1).attr("y1", y1).attr("x2", x2).attr("y2", y2).attr("class", css_class);
  if (*dash != '\0') w.attr("stroke-dasharray", dash);
}

// A small picture of the set's colour, marker and dash: its key wherever
// the page names it.
void set_key(MarkupWriter& w, std::size_t set) {
  const SetStyle style = set_style(set);
  const auto picture = svg(w, 26, 12, "key", "");
  const auto group = w.open("g");
  w.attr("class", style.css).attr("data-set", static_cast<int>(set));
  dashed_line(w, 1, 6, 25, 6, "trend", style.dash);
  marker(w, style.shape, 13, 6, 4);
}

// A whisker of ± the spread around (x, mean), within [lo, hi] of the data.
void whisker(MarkupWriter& w, double x, const Spread& s, const LinearScale& y, double lo,
             double hi) {
  if (s.count < 2 || !(s.spread > 0.0)) return;
  const double top = y(std::clamp(s.mean + s.spread, lo, hi));
  const double bottom = y(std::clamp(s.mean - s.spread, lo, hi));
  line(w, x, top, x, bottom, "whisker");
  line(w, x - 2.5, top, x + 2.5, top, "whisker");
  line(w, x - 2.5, bottom, x + 2.5, bottom, "whisker");
}

// Integer ticks from `first` to `last`, at most `most` of them, at steps of
// 1, 2, 5, 10 and so on.
std::vector<double> whole_ticks(std::size_t first, std::size_t last, std::size_t most) {
  std::size_t step = 1;
  for (std::size_t scale = 1;; scale *= 10) {
    if ((last - first) / scale < most) break;
    if ((last - first) / (2 * scale) < most) {
      step = 2 * scale;
      break;
    }
    if ((last - first) / (5 * scale) < most) {
      step = 5 * scale;
      break;
    }
    step = 10 * scale;
  }
  std::vector<double> ticks;
  for (std::size_t k = first; k <= last; k += step) ticks.push_back(static_cast<double>(k));
  return ticks;
}

// The range of a level axis around the values: whole tens of dB, 20 dB at
// least, at most `deepest` from top to bottom (anything lower is drawn at
// the bottom).
std::pair<double, double> level_range(double lo, double hi, double deepest) {
  double top = std::ceil(hi / 10.0) * 10.0;
  double bottom = std::floor(lo / 10.0) * 10.0;
  if (top - bottom < 20.0) bottom = top - 20.0;
  bottom = std::max(bottom, top - deepest);
  return {bottom, top};
}

// The smallest of the extents that holds `largest` with a little room; the
// last one where none does (what lies beyond is drawn at the edge).
template <std::size_t n>
double extent_for(double largest, const std::array<double, n>& extents) {
  const auto fits =
      std::find_if(extents.begin(), extents.end(), [&](double e) { return largest * 1.1 <= e; });
  return fits == extents.end() ? extents.back() : *fits;
}

// The harmonics a note's sets have: the longest of their level vectors.
std::size_t note_harmonics(const ComparedNote& note) {
  std::size_t harmonics = 0;
  for (const std::optional<SetNote>& set : note.sets) {
    if (!set) continue;
    harmonics = std::max({harmonics, set->level_dbfs.size(), set->relative_db.size()});
  }
  for (const auto& differences : note.difference_db) {
    harmonics = std::max(harmonics, differences.size());
  }
  return harmonics;
}

// The offset of set `index` of `count` within a slot, so that the sets'
// marks stand side by side rather than on one another.
double dodge(std::size_t index, std::size_t count, double slot) {
  const double step =
      std::min(0.5 * slot / static_cast<double>(std::max<std::size_t>(count, 1)), 6.0);
  return (static_cast<double>(index) - (static_cast<double>(count) - 1.0) / 2.0) * step;
}

// Panel (a) of a note: each set's harmonics k >= 2 in dB re its
// fundamental, with the spread of its tones as whiskers.
void relative_panel(MarkupWriter& w, const ComparedNote& note, std::size_t harmonics) {
  constexpr double width = 465;
  constexpr double height = 240;
  const Box box{60, 26, width - 60 - 12, height - 26 - 46};
  double lo = 0.0, hi = 0.0;
  for (const std::optional<SetNote>& set : note.sets) {
    if (!set) continue;
    for (std::size_t k = 2; k <= harmonics; ++k) {
      if (const std::optional<Spread> s = at(set->relative_db, k - 1)) {
        lo = std::min(lo, s->mean - s->spread);
        hi = std::max(hi, s->mean + s->spread);
      }
    }
  }
  const auto [bottom, top] = level_range(lo, hi, relative_range_db);
  const auto chart = svg(w, width, height, "relative",
                         note_name(note.note) + ": each set's harmonic levels re its fundamental");
  label(w, box.left, 14, "harmonic levels re the fundamental", "start", "panel-title");
  const LinearScale x{1.5, static_cast<double>(harmonics) + 0.5, box.left, box.right()};
  const LinearScale y{bottom, top, box.bottom(), box.top};
  y_axis(w, box, y, nice_ticks(bottom, top, 6), "%g", "dB re harmonic 1");
  x_axis(w, box, x, whole_ticks(2, harmonics, 12), "%g", "harmonic k");
  const double slot = x(3.0) - x(2.0);
  for (std::size_t i = 0; i < note.sets.size(); ++i) {
    if (!note.sets[i]) continue;
    const SetNote& set = *note.sets[i];
    const SetStyle style = set_style(i);
    const auto group = w.open("g");
    w.attr("class", style.css).attr("data-set", static_cast<int>(i));
    const double offset = dodge(i, note.sets.size(), slot);
    std::vector<std::optional<std::pair<double, double>>> points;
    for (std::size_t k = 2; k <= harmonics; ++k) {
      const std::optional<Spread> s = at(set.relative_db, k - 1);
      points.push_back(s ? std::optional(std::pair(x(static_cast<double>(k)) + offset,
                                                   y(std::max(s->mean, bottom))))
                         : std::nullopt);
    }
    join(w, points, style.dash);
    for (std::size_t k = 2; k <= harmonics; ++k) {
      const std::optional<Spread> s = at(set.relative_db, k - 1);
      if (!s) continue;
      const auto mark = w.open("g");
      title(w, "harmonic " + std::to_string(k) + ": " + spread_text(s, "%.1f") + " dB");
      const double cx = x(static_cast<double>(k)) + offset;
      whisker(w, cx, *s, y, bottom, top);
      marker(w, style.shape, cx, y(std::max(s->mean, bottom)), std::clamp(slot / 6.0, 2.2, 4.0));
    }
  }
}

// Panel (b) of a note: each other set's difference from the reference per
// harmonic, as bars from 0; at k = 1 that of the fundamental's absolute
// level.
void difference_panel(MarkupWriter& w, const ComparedNote& note, std::size_t harmonics) {
  constexpr double width = 465;
  constexpr double height = 240;
  const Box box{60, 26, width - 60 - 12, height - 26 - 46};
  double largest = 0.0;
  for (std::size_t i = 1; i < note.difference_db.size(); ++i) {
    for (const std::optional<double>& d : note.difference_db[i]) {
      if (finite(d)) largest = std::max(largest, std::abs(*d));
    }
  }
  static constexpr std::array<double, 7> extents = {3, 6, 10, 20, 40, 80, 120};
  const double extent = extent_for(largest, extents);
  const auto chart =
      svg(w, width, height, "difference",
          note_name(note.note) + ": each set's difference from the reference per harmonic");
  label(w, box.left, 14, "difference from the reference", "start", "panel-title");
  const LinearScale x{0.5, static_cast<double>(harmonics) + 0.5, box.left, box.right()};
  const LinearScale y{-extent, extent, box.bottom(), box.top};
  y_axis(w, box, y, nice_ticks(-extent, extent, 7), "%g", "dB from the reference");
  x_axis(w, box, x, whole_ticks(1, harmonics, 12), "%g",
         "harmonic k (k = 1: absolute level of the fundamental)");
  line(w, box.left, y(0), box.right(), y(0), "zero");
  const std::size_t others = note.sets.size() > 1 ? note.sets.size() - 1 : 1;
  const double slot = x(2.0) - x(1.0);
  const double bar = 0.75 * slot / static_cast<double>(others);
  for (std::size_t i = 1; i < note.difference_db.size() && i < note.sets.size(); ++i) {
    const SetStyle style = set_style(i);
    const auto group = w.open("g");
    w.attr("class", style.css).attr("data-set", static_cast<int>(i));
    for (std::size_t k = 1; k <= note.difference_db[i].size(); ++k) {
      const std::optional<double> d = finite(note.difference_db[i][k - 1]);
      if (!d) continue;
      const double left =
          x(static_cast<double>(k)) - 0.375 * slot + bar * static_cast<double>(i - 1);
      const double end = y(std::clamp(*d, -extent, extent));
      const auto rect = w.open("rect");
      w.attr("class", "bar")
          .attr("x", left)
          .attr("y", std::min(end, y(0)))
          .attr("width", std::max(bar - 0.5, 0.5))
          .attr("height", std::max(std::abs(end - y(0)), 0.5));
      if (*style.dash != '\0') w.attr("fill-opacity", 0.55);
      title(w, "harmonic " + std::to_string(k) + ": " + formatted("%+.1f dB", *d) +
                   (k == 1 ? " (absolute level)" : ""));
    }
  }
}

// One matched note: a caption naming what each set measured of it, and
// both panels.
void note_figure(MarkupWriter& w, const Comparison& comparison, const ComparedNote& note) {
  const auto figure = w.open_html("figure");
  w.attr("class", "compared-note").attr("id", note_id(note.note));
  // The caption first: the note heads its figure.
  {
    const auto caption = w.open_html("figcaption");
    w.element("b", note_name(note.note));
    w.text(": what each set measured of it.");
    const auto list = w.open_html("ul");
    for (std::size_t i = 0; i < note.sets.size(); ++i) {
      const auto item = w.open_html("li");
      set_key(w, i);
      const std::string name = i < comparison.sets.size() ? comparison.sets[i].name : "set";
      w.element("b", name);
      if (!note.sets[i]) {
        w.text(": not measured");
        continue;
      }
      const SetNote& set = *note.sets[i];
      std::string text = ": " + count_text(set.tones, "tone", "tones");
      text += usable(set.deviation_cents)
                  ? ", deviation " + spread_text(set.deviation_cents, "%+.1f") + " c"
                  : std::string(", no deviation");
      const std::optional<Spread> fundamental = at(set.level_dbfs, 0);
      text += ", fundamental " + (fundamental ? spread_text(fundamental, "%.1f") + " dBFS"
                                              : std::string("not measured"));
      w.text(text);
    }
  }
  const std::size_t harmonics = note_harmonics(note);
  {
    const auto charts = w.open_html("div");
    w.attr("class", "compared-charts");
    if (harmonics >= 2) {
      relative_panel(w, note, harmonics);
    } else {
      const auto p = w.open_html("p");
      w.attr("class", "empty-note");
      w.text("No set measured a harmonic above the fundamental of this note.");
    }
    if (harmonics >= 1) difference_panel(w, note, harmonics);
  }
}

// A set's measured notes, low to high, whether matched or not.
std::vector<std::pair<int, const SetNote*>> notes_of(const Comparison& comparison,
                                                     std::size_t set) {
  std::vector<std::pair<int, const SetNote*>> notes;
  for (const auto* list : {&comparison.matched, &comparison.unmatched}) {
    for (const ComparedNote& note : *list) {
      if (set < note.sets.size() && note.sets[set]) notes.emplace_back(note.note, &*note.sets[set]);
    }
  }
  std::sort(notes.begin(), notes.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  return notes;
}

// The notes' axis range for every chart against note, the same for all.
std::optional<std::pair<double, double>> page_note_range(const Comparison& comparison) {
  std::optional<std::pair<int, int>> span;
  for (const auto* list : {&comparison.matched, &comparison.unmatched}) {
    for (const ComparedNote& note : *list) {
      if (!span) span = std::pair(note.note, note.note);
      span->first = std::min(span->first, note.note);
      span->second = std::max(span->second, note.note);
    }
  }
  if (!span) return std::nullopt;
  return note_range(span->first, span->second);
}

// A legend of entries along the top of a chart, in rows as wide as
// `width`: each is drawn by `key` at (x, middle) and followed by its text.
// Returns the rows' bottom.
template <typename Key>
double legend(MarkupWriter& w, double left, double width,
              const std::vector<std::pair<std::string, Key>>& entries) {
  const auto group = w.open("g");
  w.attr("class", "legend");
  double x = left;
  double row = 0.0;
  for (const auto& [text, key] : entries) {
    const double span = 26 + 6.5 * static_cast<double>(text.size()) + 16;
    if (x + span > width && x > left) {
      x = left;
      row += 18.0;
    }
    key(x, 10.0 + row);
    label(w, x + 26, 14.0 + row, text, "start", "muted");
    x += span;
  }
  return 18.0 + row;
}

// A name short enough for a legend entry.
std::string short_name(const std::string& name) {
  constexpr std::size_t most = 36;
  if (name.size() <= most) return name;
  std::size_t cut = name.size() - (most - 1);
  while (cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) ++cut;
  return "…" + name.substr(cut);
}

// One set's harmonics 1..trend_harmonics in dBFS against note, each with
// its trend line: the set's colour throughout, the harmonics told apart by
// marker and dash.
void trend_chart(MarkupWriter& w, const Comparison& comparison, std::size_t set,
                 std::pair<double, double> notes) {
  constexpr double width = 960;
  const std::vector<std::pair<int, const SetNote*>> measured = notes_of(comparison, set);
  const SetSummary& summary = comparison.sets[set];
  double lo = 0.0, hi = -1e300;
  for (std::size_t k = 1; k <= trend_harmonics; ++k) {
    for (const auto& [note, levels] : measured) {
      if (const std::optional<Spread> s = at(levels->level_dbfs, k - 1)) {
        lo = std::min(lo, s->mean);
        hi = std::max(hi, s->mean);
      }
    }
  }
  const SetStyle style = set_style(set);
  const auto trend_of = [&](std::size_t k) -> std::optional<TrendLine> {
    if (k - 1 >= summary.trends.size() || !summary.trends[k - 1]) return std::nullopt;
    const TrendLine& t = *summary.trends[k - 1];
    if (t.notes < 2 || !std::isfinite(t.intercept_db) || !std::isfinite(t.slope_db_per_octave)) {
      return std::nullopt;
    }
    return t;
  };
  for (std::size_t k = 1; k <= trend_harmonics && !measured.empty(); ++k) {
    if (const std::optional<TrendLine> t = trend_of(k)) {
      for (const int note : {measured.front().first, measured.back().first}) {
        lo = std::min(lo, t->at(note));
        hi = std::max(hi, t->at(note));
      }
    }
  }
  if (hi < lo) hi = lo;
  const std::pair<double, double> range = level_range(lo, hi, 140.0);
  const double bottom = range.first;
  const double top = range.second;

  // The legend first, to know how much room it takes above the plot.
  std::string legend_markup;
  double legend_bottom = 0.0;
  {
    MarkupWriter lw(legend_markup);
    std::vector<std::pair<std::string, std::function<void(double, double)>>> keys;
    for (std::size_t k = 1; k <= trend_harmonics; ++k) {
      const std::optional<TrendLine> t = trend_of(k);
      std::string text = "k = " + std::to_string(k) + ": ";
      text += t ? formatted("%+.1f dB/octave", t->slope_db_per_octave) : std::string("no trend");
      keys.emplace_back(text, [&lw, k](double x, double y) {
        dashed_line(lw, x, y, x + 22, y, "trend", dashes[(k - 1) % dashes.size()]);
        marker(lw, shapes[(k - 1) % shapes.size()], x + 11, y, 3.5);
      });
    }
    const auto group = lw.open("g");
    lw.attr("class", style.css).attr("data-set", static_cast<int>(set));
    legend_bottom = legend(lw, 60, width - 12, keys);
  }
  const double height = legend_bottom + 8 + 240 + 50;
  const Box box{60, legend_bottom + 8, width - 60 - 12, 240};
  const auto chart = svg(w, width, height, "trends",
                         summary.name + ": harmonic levels in dBFS against note, with trends");
  w.raw(legend_markup);
  const LinearScale x{notes.first, notes.second, box.left, box.right()};
  const LinearScale y{bottom, top, box.bottom(), box.top};
  y_axis(w, box, y, nice_ticks(bottom, top, 7), "%g", "level (dBFS)");
  note_axis(w, box, x, default_a4, "note");
  const auto group = w.open("g");
  w.attr("class", style.css).attr("data-set", static_cast<int>(set));
  for (std::size_t k = 1; k <= trend_harmonics; ++k) {
    const char* dash = dashes[(k - 1) % dashes.size()];
    if (const std::optional<TrendLine> t = trend_of(k); t && !measured.empty()) {
      const double first = measured.front().first;
      const double last = measured.back().first;
      const auto clamped = [&](double note) {
        return y(std::clamp(t->at(static_cast<int>(note)), bottom, top));
      };
      const auto trend = w.open("g");
      dashed_line(w, x(first), clamped(first), x(last), clamped(last), "trend", dash);
      title(w, "harmonic " + std::to_string(k) + ": trend " +
                   formatted("%+.2f dB/octave", t->slope_db_per_octave) + " over " +
                   count_text(t->notes, "note", "notes"));
    }
    for (const auto& [note, levels] : measured) {
      const std::optional<Spread> s = at(levels->level_dbfs, k - 1);
      if (!s) continue;
      const auto mark = w.open("g");
      title(w, note_name(note) + ", harmonic " + std::to_string(k) + ": " + spread_text(s, "%.1f") +
                   " dBFS");
      marker(w, shapes[(k - 1) % shapes.size()], x(note), y(std::max(s->mean, bottom)), 3.5);
    }
  }
}

// What a chart against note draws of one set's note.
using NoteValue = std::optional<Spread> (*)(const SetNote&);

// One value per set and note against note: each set's marks joined in its
// colour, with the spread over its tones as a whisker; `symmetric` makes the
// axis symmetric about 0 (a deviation).
void note_chart(MarkupWriter& w, const Comparison& comparison, std::pair<double, double> notes,
                NoteValue value, double width, double height, const std::string& heading,
                const std::string& unit, const char* tick_format, bool symmetric) {
  const bool narrow = width < 500;
  // A wide chart names the sets in a legend above the plot; a narrow one
  // has its heading there, and the page's header is its legend.
  std::string legend_markup;
  double plot_top = 26.0;
  if (!narrow) {
    MarkupWriter lw(legend_markup);
    std::vector<std::pair<std::string, std::function<void(double, double)>>> keys;
    for (std::size_t i = 0; i < comparison.sets.size(); ++i) {
      keys.emplace_back(short_name(comparison.sets[i].name), [&lw, i](double x, double y) {
        const SetStyle style = set_style(i);
        const auto group = lw.open("g");
        lw.attr("class", style.css).attr("data-set", static_cast<int>(i));
        dashed_line(lw, x, y, x + 22, y, "trend", style.dash);
        marker(lw, style.shape, x + 11, y, 3.5);
      });
    }
    plot_top = legend(lw, 60, width - 12, keys) + 8;
    height += plot_top - 12;
  }
  const Box box{60, plot_top, width - 60 - 12, height - plot_top - 46};
  std::vector<std::vector<std::pair<int, Spread>>> series(comparison.sets.size());
  double lo = 1e300, hi = -1e300;
  for (std::size_t i = 0; i < comparison.sets.size(); ++i) {
    for (const auto& [note, set] : notes_of(comparison, i)) {
      if (const std::optional<Spread> s = usable(value(*set))) {
        series[i].emplace_back(note, *s);
        lo = std::min(lo, s->mean - s->spread);
        hi = std::max(hi, s->mean + s->spread);
      }
    }
  }
  double bottom = 0.0, top = 1.0;
  if (symmetric) {
    static constexpr std::array<double, 6> extents = {10, 20, 50, 100, 200, 400};
    const double extent = extent_for(hi < lo ? 0.0 : std::max(std::abs(lo), std::abs(hi)), extents);
    bottom = -extent;
    top = extent;
  } else if (hi >= lo) {
    const double margin = std::max((hi - lo) * 0.1, std::max(std::abs(hi), 1.0) * 0.05);
    bottom = lo - margin;
    top = hi + margin;
  }
  const auto chart = svg(w, width, height, narrow ? "descriptor" : "deviation-by-note",
                         (heading.empty() ? unit : heading) + " against note, per set");
  if (!heading.empty()) label(w, box.left, 14, heading, "start", "panel-title");
  w.raw(legend_markup);
  const LinearScale x{notes.first, notes.second, box.left, box.right()};
  const LinearScale y{bottom, top, box.bottom(), box.top};
  y_axis(w, box, y, nice_ticks(bottom, top, narrow ? 5 : 9), tick_format, unit);
  note_axis(w, box, x, default_a4, "note", narrow ? 5 : 12);
  if (bottom < 0.0 && top > 0.0) line(w, box.left, y(0), box.right(), y(0), "zero");
  if (hi < lo) {
    label(w, box.left + box.width / 2, box.top + box.height / 2, "no set has a value", "middle",
          "muted");
    return;
  }
  const double key = x(1.0) - x(0.0);
  for (std::size_t i = 0; i < series.size(); ++i) {
    if (series[i].empty()) continue;
    const SetStyle style = set_style(i);
    const auto group = w.open("g");
    w.attr("class", style.css).attr("data-set", static_cast<int>(i));
    const double offset = dodge(i, series.size(), key);
    std::vector<std::optional<std::pair<double, double>>> points;
    for (const auto& [note, s] : series[i]) {
      points.emplace_back(std::pair(x(note) + offset, y(std::clamp(s.mean, bottom, top))));
    }
    join(w, points, style.dash);
    for (const auto& [note, s] : series[i]) {
      const auto mark = w.open("g");
      title(w, comparison.sets[i].name + ", " + note_name(note) + ": " +
                   spread_text(s, symmetric ? "%+.2f" : "%.2f") + " " + unit);
      whisker(w, x(note) + offset, s, y, bottom, top);
      marker(w, style.shape, x(note) + offset, y(std::clamp(s.mean, bottom, top)),
             std::clamp(key / 5.0, 2.2, 4.0));
    }
  }
}

void header(MarkupWriter& w, const Comparison& comparison, const std::string& generator) {
  w.element("h1", "toneprint comparison");
  {
    const auto meta = w.open_html("p");
    w.attr("class", "meta");
    w.text(generator + "; levels in dB, differences from the reference (the first set).");
  }
  if (comparison.sets.empty()) {
    w.element("p", "No set to compare.");
    return;
  }
  const auto list = w.open_html("ol");
  w.attr("class", "sets");
  for (std::size_t i = 0; i < comparison.sets.size(); ++i) {
    const SetSummary& set = comparison.sets[i];
    const auto item = w.open_html("li");
    set_key(w, i);
    w.element("b", set.name);
    std::string text = i == 0 ? " (the reference): " : ": ";
    text += set.tones == 0 ? std::string("no tones")
                           : count_text(set.tones, "tone", "tones") + ", " +
                                 count_text(set.notes, "note", "notes");
    w.text(text);
  }
}

void summary_table(MarkupWriter& w, const Comparison& comparison) {
  const auto wrap = w.open_html("div");
  w.attr("class", "table-wrap");
  const auto table = w.open_html("table");
  w.attr("class", "compared-sets");
  {
    const auto head = w.open_html("thead");
    const auto row = w.open_html("tr");
    std::vector<std::string> columns = {"set", "tones", "notes"};
    for (std::size_t k = 2; k < 2 + table_harmonics; ++k) {
      columns.push_back("k = " + std::to_string(k));
    }
    columns.insert(columns.end(), {"centroid (harmonic)", "odd/even (dB)", "T1", "T2", "T3",
                                   "slope (dB/oct.)", "deviation (c)"});
    for (const std::string& column : columns) {
      const auto cell = w.open_html("th");
      if (column == "set") w.attr("class", "text");
      w.text(column);
    }
  }
  const auto body = w.open_html("tbody");
  for (std::size_t i = 0; i < comparison.sets.size(); ++i) {
    const SetSummary& set = comparison.sets[i];
    const auto row = w.open_html("tr");
    {
      const auto cell = w.open_html("td");
      w.attr("class", "set");
      set_key(w, i);
      w.text(set.name);
    }
    w.element("td", std::to_string(set.tones));
    w.element("td", std::to_string(set.notes));
    for (std::size_t k = 2; k < 2 + table_harmonics; ++k) {
      w.element("td", spread_text(at(set.relative_db, k - 1), "%.1f"));
    }
    w.element("td", spread_text(set.centroid_harmonic, "%.2f"));
    w.element("td", spread_text(set.odd_even_db, "%.1f"));
    w.element("td", spread_text(set.t1, "%.2f"));
    w.element("td", spread_text(set.t2, "%.2f"));
    w.element("td", spread_text(set.t3, "%.2f"));
    w.element("td", spread_text(set.slope_db_per_octave, "%.1f"));
    w.element("td", spread_text(set.deviation_cents, "%+.1f"));
  }
}

void unmatched_section(MarkupWriter& w, const Comparison& comparison) {
  const auto section = w.open_html("section");
  w.attr("id", "unmatched");
  w.element("h2", "Unmatched notes");
  if (comparison.unmatched.empty()) {
    w.element("p",
              comparison.matched.empty() ? "No note was measured." : "Every note was matched.");
    return;
  }
  w.element("p",
            "A note is compared where the reference and at least one other set measured "
            "it. These notes were measured by the reference alone, or only by other sets:");
  const auto list = w.open_html("ul");
  w.attr("class", "unmatched");
  for (const ComparedNote& note : comparison.unmatched) {
    const auto item = w.open_html("li");
    w.element("b", note_name(note.note));
    w.text(": measured by ");
    bool first = true;
    for (std::size_t i = 0; i < note.sets.size() && i < comparison.sets.size(); ++i) {
      if (!note.sets[i]) continue;
      if (!first) w.text(", ");
      first = false;
      set_key(w, i);
      w.text(comparison.sets[i].name + " (" + count_text(note.sets[i]->tones, "tone", "tones") +
             ")");
    }
    if (first) w.text("no set");
  }
}

void against_note(MarkupWriter& w, const Comparison& comparison, std::pair<double, double> notes);

// Everything after the header, for one set or more.
void sections(MarkupWriter& w, const Comparison& comparison) {
  {
    const auto section = w.open_html("section");
    w.attr("id", "notes");
    w.element("h2", "Note by note");
    if (comparison.matched.empty()) {
      w.element("p", comparison.sets.size() < 2
                         ? "Only one set: there is nothing to compare it with."
                         : "No note was measured by both the reference and another set: there "
                           "is nothing to compare note by note.");
    } else {
      w.element("p",
                "For each note that the reference and another set measured: on the left, each "
                "set's harmonics k ≥ 2 in dB re its fundamental (the whiskers span ± the standard "
                "deviation over the set's tones of the note); on the right, each other set's "
                "difference from the reference in dB, at k = 1 that of the fundamental's absolute "
                "level, above it that of the relative levels.");
    }
    for (const ComparedNote& note : comparison.matched) note_figure(w, comparison, note);
  }
  const std::optional<std::pair<double, double>> notes = page_note_range(comparison);
  {
    const auto section = w.open_html("section");
    w.attr("id", "trends");
    w.element("h2", "Across notes");
    for (std::size_t i = 0; i < comparison.sets.size(); ++i) {
      const SetSummary& set = comparison.sets[i];
      const auto figure = w.open_html("figure");
      w.attr("class", "trend");
      if (notes && set.tones > 0) trend_chart(w, comparison, i, *notes);
      const auto caption = w.open_html("figcaption");
      set_key(w, i);
      w.element("b", set.name);
      w.text(set.tones == 0
                 ? ": no tones."
                 : ": the absolute levels of harmonics 1 to " + std::to_string(trend_harmonics) +
                       " in dBFS against note (each note's mean), each harmonic with its "
                       "least-squares trend; the legend gives the trends' slopes.");
    }
  }
  if (notes) against_note(w, comparison, *notes);
  {
    const auto section = w.open_html("section");
    w.attr("id", "summary");
    w.element("h2", "Summary per set");
    summary_table(w, comparison);
    w.element("p",
              "Means ± standard deviations over each set's tones: the levels of harmonics "
              "k = 2 to " +
                  std::to_string(1 + table_harmonics) +
                  " in dB re the fundamental, the descriptors, and the deviation from the "
                  "notes' targets in cents.");
  }
  unmatched_section(w, comparison);
}

// The tuning and the descriptors of every set against note.
void against_note(MarkupWriter& w, const Comparison& comparison, std::pair<double, double> notes) {
  {
    const auto section = w.open_html("section");
    w.attr("id", "tuning");
    w.element("h2", "Tuning");
    const auto figure = w.open_html("figure");
    note_chart(
        w, comparison, notes, [](const SetNote& s) { return s.deviation_cents; }, 960, 300, "",
        "deviation (cents)", "%g", true);
    w.element("figcaption",
              "Each set's mean deviation from its notes' targets in cents, against note; the "
              "whiskers span ± the standard deviation over the note's tones.");
  }
  {
    const auto section = w.open_html("section");
    w.attr("id", "descriptors");
    w.element("h2", "Timbre descriptors");
    const auto figure = w.open_html("figure");
    {
      const auto charts = w.open_html("div");
      w.attr("class", "compared-charts");
      const struct {
        NoteValue value;
        const char* heading;
        const char* unit;
      } panels[] = {
          {[](const SetNote& s) { return s.centroid_harmonic; }, "spectral centroid", "harmonic"},
          {[](const SetNote& s) { return s.odd_even_db; }, "odd-to-even ratio", "dB"},
          {[](const SetNote& s) { return s.slope_db_per_octave; }, "spectral slope", "dB/octave"},
          {[](const SetNote& s) { return s.t1; }, "tristimulus T1", "fraction"},
          {[](const SetNote& s) { return s.t2; }, "tristimulus T2", "fraction"},
          {[](const SetNote& s) { return s.t3; }, "tristimulus T3", "fraction"},
      };
      for (const auto& panel : panels) {
        note_chart(w, comparison, notes, panel.value, 310, 210, panel.heading, panel.unit, "%g",
                   false);
      }
    }
    w.element("figcaption",
              "Each set's timbre descriptors against note (each note's mean, the whiskers ± the "
              "standard deviation over its tones): the centroid as a harmonic number, the "
              "odd-to-even ratio, the slope of the levels against log2 k, and the tristimulus.");
  }
}

}  // namespace

std::string comparison_page(const Comparison& comparison, const std::string& generator) {
  std::string page = page_start("toneprint comparison", generator, {comparison_style_sheet});
  page += "\n<body>";
  {
    MarkupWriter w(page);
    header(w, comparison, generator);
    if (!comparison.sets.empty()) sections(w, comparison);
  }
  return page + "\n</body></html>\n";
}

}  // namespace toneprint
