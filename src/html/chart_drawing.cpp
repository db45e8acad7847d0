#include "html/chart_drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "toneprint/toneprint.h"

namespace toneprint {
namespace {

constexpr std::string_view style_sheet = R"(
:root { --bg: #ffffff; --fg: #1b1b1b; --muted: #686868; --grid: #dadada; --panel: #f6f6f6;
  --level: rgba(40, 40, 40, 0.5); --tone: #0072b2; --tone-fill: rgba(0, 114, 178, 0.18);
  --attack: rgba(0, 0, 0, 0.14); --fail: #d55e00; --short: #e69f00;
  --threshold: #cc79a7; --guide: #b0b0b0; color-scheme: light dark; }
@media (prefers-color-scheme: dark) {
  :root { --bg: #151515; --fg: #e6e6e6; --muted: #a3a3a3; --grid: #383838; --panel: #202020;
    --level: rgba(220, 220, 220, 0.45); --tone: #56b4e9; --tone-fill: rgba(86, 180, 233, 0.2);
    --attack: rgba(255, 255, 255, 0.16); --fail: #ff8c42; --short: #f0c05a;
    --threshold: #e59ccb; --guide: #6a6a6a; }
}
body { background: var(--bg); color: var(--fg); margin: 1.5em auto; max-width: 1000px;
  padding: 0 1em; font: 15px/1.45 system-ui, sans-serif; }
h1 { font-size: 1.6em; margin-bottom: 0.2em; }
h2 { font-size: 1.3em; border-bottom: 1px solid var(--grid); margin-top: 2em; overflow-wrap: anywhere; }
h3 { font-size: 1.05em; margin: 1.4em 0 0.4em; }
p.meta, figcaption { color: var(--muted); }
figure { margin: 0.6em 0 1.2em; break-inside: avoid; }
figure.tone { border-top: 1px solid var(--grid); padding-top: 0.4em; }
figcaption { font-size: 0.9em; }
figcaption b { color: var(--fg); }
svg { display: block; max-width: 100%; height: auto; font: 12px system-ui, sans-serif; }
svg text { fill: var(--fg); }
svg .axis text, svg text.muted { fill: var(--muted); }
svg .axis line, svg .axis path { stroke: var(--muted); fill: none; }
svg .axis line.grid { stroke: var(--grid); }
.level { fill: var(--level); }
.tone-mark rect.span { fill: var(--tone-fill); stroke: var(--tone); stroke-width: 0.5; }
.tone-mark.unmeasured rect.span { fill: url(#short-hatch); stroke: var(--short); }
.tone-detail rect.attack, rect.legend-attack { fill: var(--attack); }
rect.legend-span { fill: var(--tone-fill); stroke: var(--tone); stroke-width: 0.5; }
rect.legend-short { fill: url(#short-hatch); stroke: var(--short); }
.short-label { fill: var(--short) !important; }
svg .tone-detail text { font-size: 11px; }
.pass { stroke: var(--tone); stroke-width: 1.5; }
.failed-pass { stroke: var(--fail); stroke-width: 1.5; stroke-dasharray: 2 1; }
.left-out-pass { stroke: var(--muted); stroke-width: 1.5; stroke-dasharray: 1 2; }
.tone-detail rect.tail { fill: var(--tone-fill); opacity: 0.5; }
.threshold { stroke: var(--threshold); stroke-width: 1.2; stroke-dasharray: 6 3; }
.threshold-label { fill: var(--threshold) !important; }
.guide { stroke: var(--guide); stroke-dasharray: 4 3; }
.guide.wide { stroke-dasharray: none; }
.zero { stroke: var(--fg); stroke-width: 1; }
.tuning-dot circle { fill: var(--tone); stroke: var(--bg); stroke-width: 1; }
.tuning-dot line { stroke: var(--tone); stroke-width: 1.5; }
.timbre-row rect.empty, rect.empty { fill: url(#empty-hatch); stroke: var(--grid); stroke-width: 0.5; }
.bar { fill: var(--tone); }
.hatch line { stroke: var(--muted); stroke-width: 1; }
.short-hatch line { stroke: var(--short); stroke-width: 1.5; }
.swatch-note { font-size: 11px; }
svg text.small { font-size: 10px; }
.table-wrap { overflow-x: auto; }
table { border-collapse: collapse; font-size: 0.82em; font-variant-numeric: tabular-nums; }
th, td { border: 1px solid var(--grid); padding: 0.15em 0.45em; text-align: right; white-space: nowrap; }
th { background: var(--panel); font-weight: 600; }
td.text, th.text { text-align: left; }
.error { color: var(--fail); font-weight: 600; }
@page { size: A4; margin: 14mm; }
@media print {
  body { max-width: none; margin: 0; padding: 0; font-size: 10pt; }
  h2 { break-before: page; }
  section:first-of-type h2 { break-before: auto; }
  .table-wrap { overflow: visible; }
  table { font-size: 7pt; }
}
)";

}  // namespace

std::string page_start(const std::string& title, const std::string& generator,
                       const std::vector<std::string_view>& more) {
  std::string page = "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">";
  {
    MarkupWriter w(page);
    const auto head = w.open_html("head");
    {
      const auto meta = w.open_html("meta");
      w.attr("charset", "utf-8");
    }
    {
      const auto meta = w.open_html("meta");
      w.attr("name", "viewport").attr("content", "width=device-width, initial-scale=1");
    }
    {
      const auto meta = w.open_html("meta");
      w.attr("name", "generator").attr("content", generator);
    }
    w.element("title", title);
    const auto style = w.open_html("style");
    w.raw(style_sheet);
    for (const std::string_view sheet : more) w.raw(sheet);
  }
  return page;
}

std::string formatted(const char* format, double value) {
  const int length = std::snprintf(nullptr, 0, format, value);
  std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
  std::snprintf(text.data(), text.size() + 1, format, value);
  return text;
}

void title(MarkupWriter& w, const std::string& text) { w.element("title", text); }

void line(MarkupWriter& w, double x1, double y1, double x2, double y2, const char* css_class) {
  const auto element = w.open("line");
  w.attr("x1", x1).attr("y1", y1).attr("x2", x2).attr("y2", y2);
  if (css_class != nullptr) w.attr("class", css_class);
}

void label(MarkupWriter& w, double x, double y, const std::string& text, const char* anchor,
           const char* css_class) {
  const auto element = w.open_html("text");
  w.attr("x", x).attr("y", y).attr("text-anchor", anchor);
  if (css_class != nullptr) w.attr("class", css_class);
  w.text(text);
}

void upright_label(MarkupWriter& w, double x, double y, const std::string& text) {
  const auto element = w.open_html("text");
  w.attr("x", x)
      .attr("y", y)
      .attr("text-anchor", "middle")
      .attr("transform", "rotate(-90 " + w.number(x) + " " + w.number(y) + ")");
  w.text(text);
}

MarkupWriter::Element svg(MarkupWriter& w, double width, double height, const char* css_class,
                          const std::string& description) {
  auto element = w.open("svg");
  w.attr("xmlns", "http://www.w3.org/2000/svg")
      .attr("width", width)
      .attr("height", height)
      .attr("viewBox", "0 0 " + w.number(width) + " " + w.number(height))
      .attr("class", css_class)
      .attr("role", "img")
      .attr("aria-label", description);
  return element;
}

void x_axis(MarkupWriter& w, const Box& box, const LinearScale& x, const std::vector<double>& ticks,
            const char* unit_format, const std::string& caption) {
  const auto group = w.open("g");
  w.attr("class", "axis");
  line(w, box.left, box.bottom(), box.right(), box.bottom(), nullptr);
  for (const double tick : ticks) {
    line(w, x(tick), box.top, x(tick), box.bottom(), "grid");
    line(w, x(tick), box.bottom(), x(tick), box.bottom() + 4, nullptr);
    label(w, x(tick), box.bottom() + 16, formatted(unit_format, tick), "middle");
  }
  label(w, box.left + box.width / 2, box.bottom() + 32, caption, "middle");
}

void y_axis(MarkupWriter& w, const Box& box, const LinearScale& y, const std::vector<double>& ticks,
            const char* unit_format, const std::string& caption) {
  const auto group = w.open("g");
  w.attr("class", "axis");
  line(w, box.left, box.top, box.left, box.bottom(), nullptr);
  for (const double tick : ticks) {
    line(w, box.left, y(tick), box.right(), y(tick), "grid");
    line(w, box.left - 4, y(tick), box.left, y(tick), nullptr);
    label(w, box.left - 7, y(tick) + 4, formatted(unit_format, tick), "end");
  }
  upright_label(w, box.left - 44, box.top + box.height / 2, caption);
}

std::pair<double, double> note_range(double first_note, double last_note) {
  double lo = std::floor(first_note) - 1.0;
  double hi = std::ceil(last_note) + 1.0;
  if (hi - lo < 12.0) {
    const double middle = (lo + hi) / 2.0;
    lo = middle - 6.0;
    hi = middle + 6.0;
  }
  return {lo, hi};
}

void note_axis(MarkupWriter& w, const Box& box, const LinearScale& x, double a4,
               const std::string& caption, int most) {
  const double lo = x.data_lo;
  const double hi = x.data_hi;
  const auto ticks = [&](int step) { return std::floor(hi / step) - std::ceil(lo / step) + 1; };
  int step = 12;
  for (const int candidate : {1, 2, 3, 4, 6}) {
    if (ticks(candidate) <= most) {
      step = candidate;
      break;
    }
  }
  while (ticks(step) > most) step += 12;
  const auto axis = w.open("g");
  w.attr("class", "axis");
  line(w, box.left, box.bottom(), box.right(), box.bottom(), nullptr);
  for (auto midi = static_cast<int>(std::ceil(lo / step)) * step; midi <= hi; midi += step) {
    const double note = midi;
    line(w, x(note), box.top, x(note), box.bottom(), "grid");
    line(w, x(note), box.bottom(), x(note), box.bottom() + 4, nullptr);
    label(w, x(note), box.bottom() + 16,
          nearest_note(a4 * std::pow(2.0, (note - 69.0) / 12.0), a4).name, "middle");
  }
  label(w, box.left + box.width / 2, box.bottom() + 34, caption, "middle");
}

}  // namespace toneprint
