#include "html/html_report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <map>
#include <optional>
#include <string_view>

#include "html/chart_drawing.h"
#include "html/chart_scale.h"
#include "html/markup_writer.h"
#include "html/report_figures.h"
#include "html/tone_table.h"

namespace toneprint {
namespace {

// What the partials' marks add, on the pages of runs that measured them
// only: the vibrato's bar (reddish purple, apart from the tone's blue) and
// the stretch curve (vermillion).
constexpr std::string_view partials_style_sheet = R"(:root { --vibrato: #cc79a7;
  --vibrato-fill: rgba(204, 121, 167, 0.35); --fit: #d55e00; }
@media (prefers-color-scheme: dark) {
  :root { --vibrato: #e59ccb; --vibrato-fill: rgba(229, 156, 203, 0.35); --fit: #ff8c42; }
}
.tone-charts { display: flex; flex-wrap: wrap; align-items: flex-end; column-gap: 1.5em; }
.tuning-dot rect.vibrato, rect.legend-vibrato { fill: var(--vibrato-fill); stroke: var(--vibrato);
  stroke-width: 1; }
.partial-dot { fill: var(--tone); stroke: var(--bg); stroke-width: 0.8; }
.partial-dot.hollow { fill: none; stroke: var(--muted); stroke-width: 1.2; }
.stretch { fill: none; stroke: var(--fit); stroke-width: 1.5; }
.b-dot circle { fill: var(--tone); stroke: var(--bg); stroke-width: 1; }
.b-dot line { stroke: var(--tone); stroke-width: 1.2; }
)";

// What the view of the run against its targets adds, on the pages of runs
// with a target only: the best reference's line (bluish green, apart from
// the tone's blue and the threshold's purple) and the octave guard's mark
// (orange).
constexpr std::string_view target_style_sheet = R"(:root { --reference: #009e73; --guarded: #e69f00; }
@media (prefers-color-scheme: dark) { :root { --reference: #3fcf9f; --guarded: #f0c05a; } }
.target-dot circle, circle.legend-dot { fill: var(--tone); stroke: var(--bg); stroke-width: 1; }
.target-dot.split circle, circle.legend-split { fill: var(--bg); stroke: var(--tone); stroke-width: 1.8; }
.target-dot line { stroke: var(--tone); stroke-width: 1.2; }
.target-dot path.off-scale { fill: var(--tone); }
path.guard-mark { fill: none; stroke: var(--guarded); stroke-width: 1.8; }
.reference { stroke: var(--reference); stroke-width: 1.8; stroke-dasharray: 8 4; }
.reference-label { fill: var(--reference) !important; font-weight: 600; paint-order: stroke;
  stroke: var(--bg); stroke-width: 3px; stroke-linejoin: round; }
)";

std::string seconds_text(double seconds) { return formatted("%.3f s", seconds); }

std::string decibel_text(double db) { return formatted("%.1f dB", db); }

// "h0", "h1", ...: harmonic index k's name.
std::string harmonic_name(std::size_t k) { return std::string(1, 'h').append(std::to_string(k)); }

// "recording-N": the N-th recording's section.
std::string section_id(int number) {
  return std::string("recording-").append(std::to_string(number));
}

// The hatch patterns the charts share, defined once for the page: one for
// cells with no value, one for tones too short to measure.
void patterns(MarkupWriter& w) {
  const auto holder = w.open("svg");
  w.attr("xmlns", "http://www.w3.org/2000/svg")
      .attr("width", 0)
      .attr("height", 0)
      .attr("style", "position: absolute")
      .attr("aria-hidden", "true");
  const auto defs = w.open("defs");
  for (const auto& [id, css] :
       {std::pair{"empty-hatch", "hatch"}, std::pair{"short-hatch", "short-hatch"}}) {
    const auto pattern = w.open("pattern");
    w.attr("id", id)
        .attr("width", 6)
        .attr("height", 6)
        .attr("patternUnits", "userSpaceOnUse")
        .attr("patternTransform", "rotate(45)")
        .attr("class", css);
    line(w, 0, 0, 0, 6, nullptr);
  }
}

std::string tone_summary(const ToneFigure& tone) {
  std::string text = "Tone " + std::to_string(tone.number) + ": ";
  text += tone.measured ? tone.label + ", " + formatted("%.3f Hz", tone.frequency)
                        : (tone.label == "too short" ? "too short to measure" : "no pitch found");
  text += ", " + seconds_text(tone.start_s) + " to " + seconds_text(tone.end_s);
  return text;
}

// The recording's level over time, its tones and passes, and the silence
// threshold.
void overview(MarkupWriter& w, const RecordingResult& result, const RecordingFigure& figure) {
  constexpr double width = 960;
  constexpr double height = 290;
  const Box box{62, 60, width - 62 - 14, height - 60 - 44};
  const auto chart =
      svg(w, width, height, "overview", "The recording's level over time with its tones marked");
  const double duration = std::max(figure.duration_s, 1e-9);
  const LinearScale x{0.0, duration, box.left, box.right()};
  const LinearScale y{level_floor_dbfs, 0.0, box.bottom(), box.top};
  x_axis(w, box, x, nice_ticks(0.0, duration, 12), "%g", "time (s)");
  y_axis(w, box, y, nice_ticks(level_floor_dbfs, 0.0, 5), "%g", "peak level (dBFS)");

  // The tones' spans under the level, their details over it.
  for (const ToneFigure& tone : figure.tones) {
    const auto group = w.open("g");
    w.attr("class", tone.measured ? "tone-mark" : "tone-mark unmeasured");
    title(w, tone_summary(tone));
    const auto rect = w.open("rect");
    w.attr("class", "span")
        .attr("x", x(tone.start_s))
        .attr("y", box.top)
        .attr("width", std::max(x(tone.end_s) - x(tone.start_s), 1.0))
        .attr("height", box.height);
  }

  if (result.levels) {
    const auto columns = static_cast<std::size_t>(box.width);
    const std::vector<double> levels = column_levels(*result.levels, result.samples, columns);
    // A step for each column: across its top, then to the next one's.
    std::string path = "M";
    path.append(w.number(box.left)).append(" ").append(w.number(box.bottom()));
    for (std::size_t c = 0; c < columns; ++c) {
      const std::string top = w.number(y(levels[c]));
      path.append(" L").append(w.number(box.left + static_cast<double>(c))).append(" ").append(top);
      path.append(" L")
          .append(w.number(box.left + static_cast<double>(c + 1)))
          .append(" ")
          .append(top);
    }
    path.append(" L").append(w.number(box.right())).append(" ").append(w.number(box.bottom()));
    path.append(" Z");
    const auto level = w.open("path");
    w.attr("class", "level").attr("d", path);
    title(w, "Peak level per column, dBFS");
  }

  for (const ToneFigure& tone : figure.tones) {
    const auto group = w.open("g");
    w.attr("class", "tone-detail");
    const double left = x(tone.start_s);
    const double span = std::max(x(tone.end_s) - left, 1.0);
    {
      const auto rect = w.open("rect");
      w.attr("class", "attack")
          .attr("x", left)
          .attr("y", box.top)
          .attr("width", std::max(x(tone.attack_end_s) - left, 0.5))
          .attr("height", box.height);
      title(w, "Tone " + std::to_string(tone.number) + ": attack skipped, " +
                   seconds_text(tone.start_s) + " to " + seconds_text(tone.attack_end_s));
    }
    // The label where it fits (about 6 units a character at 11 units).
    if (span >= 6.0 * static_cast<double>(tone.label.size())) {
      label(w, left + span / 2, box.top - 22, tone.label, "middle",
            tone.measured ? nullptr : "short-label");
    }
    for (const double time : tone.measured_s) {
      const auto tick = w.open("g");
      title(w, "Tone " + std::to_string(tone.number) + ": pass at " + seconds_text(time));
      line(w, x(time), box.top - 12, x(time), box.top - 2, "pass");
    }
    for (const double time : tone.failed_s) {
      const auto tick = w.open("g");
      title(w, "Tone " + std::to_string(tone.number) + ": no pitch found at " + seconds_text(time));
      line(w, x(time), box.top - 12, x(time), box.top - 2, "failed-pass");
    }
    for (const double time : tone.left_out_s) {
      const auto tick = w.open("g");
      title(w, "Tone " + std::to_string(tone.number) + ": pass at " + seconds_text(time) +
                   ", left out of the means (outside the consensus)");
      line(w, x(time), box.top - 12, x(time), box.top - 2, "left-out-pass");
    }
    if (tone.analysed_until_s > tone.end_s) {
      const auto rect = w.open("rect");
      w.attr("class", "tail")
          .attr("x", x(tone.end_s))
          .attr("y", box.top)
          .attr("width", std::max(x(tone.analysed_until_s) - x(tone.end_s), 0.5))
          .attr("height", box.height);
      title(w, "Tone " + std::to_string(tone.number) + ": tail followed to " +
                   seconds_text(tone.analysed_until_s));
    }
  }

  const double threshold = y(std::max(figure.threshold_dbfs, level_floor_dbfs));
  {
    const auto group = w.open("g");
    title(w, "Silence threshold: " + formatted("%.1f dBFS", figure.threshold_dbfs) + " (" +
                 formatted("%g", result.settings.silence_threshold) + " in 16-bit units)");
    line(w, box.left, threshold, box.right(), threshold, "threshold");
  }

  // The legend, along the top.
  const auto legend = w.open("g");
  w.attr("class", "legend");
  double at = box.left;
  const auto entry = [&](const char* css_class, bool tick, const std::string& text) {
    if (tick) {
      line(w, at + 5, 4, at + 5, 16, css_class);
    } else {
      const auto swatch = w.open("rect");
      w.attr("x", at).attr("y", 4).attr("width", 14).attr("height", 12).attr("class", css_class);
    }
    label(w, at + 19, 14, text, "start", "muted");
    at += 19 + 6.5 * static_cast<double>(text.size()) + 18;
  };
  entry("legend-span", false, "tone");
  entry("legend-attack", false, "attack skipped");
  entry("legend-short", false, "too short to measure");
  entry("pass", true, "pass");
  entry("failed-pass", true, "pass without a pitch");
  line(w, at, 10, at + 22, 10, "threshold");
  at += 28;
  label(w, at, 14, "silence threshold " + formatted("%.1f dBFS", figure.threshold_dbfs), "start",
        "threshold-label");
}

// Each tone's deviation from its nearest note, with the spread of its
// passes as a whisker.
void tuning(MarkupWriter& w, const RecordingFigure& figure) {
  constexpr double width = 960;
  constexpr double height = 250;
  const Box box{62, 12, width - 62 - 14, height - 12 - 60};
  const auto chart =
      svg(w, width, height, "tuning", "Each tone's deviation from its nearest note in cents");
  const double count = static_cast<double>(std::max<std::size_t>(figure.tones.size(), 1));
  const double slot = box.width / count;
  const LinearScale y{-60.0, 60.0, box.bottom(), box.top};
  y_axis(w, box, y, {-50, -25, 0, 25, 50}, "%g", "deviation (cents)");
  line(w, box.left, y(0), box.right(), y(0), "zero");
  for (const double guide : {-5.0, 5.0})
    line(w, box.left, y(guide), box.right(), y(guide), "guide");
  for (const double guide : {-50.0, 50.0}) {
    line(w, box.left, y(guide), box.right(), y(guide), "guide wide");
  }
  label(w, box.right() - 4, y(5) - 4, "±5 c", "end", "muted");

  // Note names along the axis, as many as fit.
  const auto stride = static_cast<std::size_t>(std::ceil(34.0 / slot));
  for (const ToneFigure& tone : figure.tones) {
    const double centre = box.left + slot * (static_cast<double>(tone.number) - 0.5);
    if ((tone.number - 1) % stride == 0) {
      label(w, centre, box.bottom() + 16, tone.measured ? tone.note : "–", "middle",
            tone.measured ? nullptr : "muted");
    }
    if (!tone.measured) continue;
    const auto group = w.open("g");
    w.attr("class", "tuning-dot");
    const std::optional<Vibrato> vibrato =
        tone.partials ? tone.partials->vibrato : std::optional<Vibrato>();
    title(w, "Tone " + std::to_string(tone.number) + ": " + tone.label + ", spread " +
                 formatted("%.2f c", tone.spread_cents) +
                 (vibrato ? ", " + vibrato_text(*vibrato) : std::string()));
    const auto clamp = [](double cents) { return std::clamp(cents, -60.0, 60.0); };
    if (vibrato && vibrato->extent_cents > 0.0) {
      // Wider than the whisker and behind it, so that both can be read.
      const double half = std::clamp(slot * 0.3, 2.5, 7.0);
      const double top = y(clamp(tone.cents + vibrato->extent_cents));
      const auto bar = w.open("rect");
      w.attr("class", "vibrato")
          .attr("x", centre - half)
          .attr("y", top)
          .attr("width", 2 * half)
          .attr("height", y(clamp(tone.cents - vibrato->extent_cents)) - top);
    }
    if (tone.spread_cents > 0.0) {
      line(w, centre, y(clamp(tone.cents - tone.spread_cents)), centre,
           y(clamp(tone.cents + tone.spread_cents)), nullptr);
    }
    const auto dot = w.open("circle");
    w.attr("cx", centre).attr("cy", y(tone.cents)).attr("r", std::clamp(slot / 3, 2.0, 4.5));
  }
  label(w, box.left + box.width / 2, box.bottom() + 36, "tone (nearest note)", "middle");
}

// Tones by harmonics, each cell coloured by its level relative to the
// tone's fundamental.
void timbre_map(MarkupWriter& w, const RecordingFigure& figure, std::size_t harmonics) {
  const double cell_width = std::min(48.0, 820.0 / static_cast<double>(harmonics));
  const bool many = figure.tones.size() > 40;
  const double cell_height = many ? 12.0 : 18.0;
  const Box box{86, 34, cell_width * static_cast<double>(harmonics),
                cell_height * static_cast<double>(figure.tones.size())};
  const double legend_top = box.bottom() + 22;
  const double width = std::max(box.right(), box.left + 520.0) + 14;
  const double height = legend_top + 54;
  const auto chart =
      svg(w, width, height, "timbre", "Each tone's harmonic levels relative to its fundamental");
  const double bottom = figure.levels_bottom_db;
  const double top = figure.levels_top_db;
  const auto colour = [&](double db) { return viridis((db - bottom) / (top - bottom)); };
  {
    const auto axis = w.open("g");
    w.attr("class", "axis");
    for (std::size_t k = 0; k < harmonics; ++k) {
      label(w, box.left + cell_width * (static_cast<double>(k) + 0.5), box.top - 8,
            harmonic_name(k), "middle");
    }
    label(w, box.left, box.top - 24, "harmonic (h0 is the fundamental)", "start");
  }
  for (const ToneFigure& tone : figure.tones) {
    const double row_top = box.top + cell_height * static_cast<double>(tone.number - 1);
    const auto group = w.open("g");
    w.attr("class", "timbre-row");
    label(w, box.left - 6, row_top + cell_height / 2 + (many ? 3.5 : 4),
          std::to_string(tone.number) + "  " + (tone.measured ? tone.note : tone.label), "end",
          tone.measured ? (many ? "small" : nullptr) : (many ? "small muted" : "muted"));
    for (std::size_t k = 0; k < harmonics; ++k) {
      const bool has_level = k < tone.levels_db.size() && tone.levels_db[k].has_value();
      const double level = has_level ? *tone.levels_db[k] : 0.0;
      const auto cell = w.open("rect");
      w.attr("x", box.left + cell_width * static_cast<double>(k))
          .attr("y", row_top)
          .attr("width", cell_width)
          .attr("height", cell_height);
      const std::string name = "Tone " + std::to_string(tone.number) + " h" + std::to_string(k);
      if (has_level) {
        w.attr("fill", colour(std::max(level, bottom)));
        title(w, name + ": " + decibel_text(level));
      } else {
        w.attr("class", "empty");
        title(w, name + (tone.measured ? ": above the Nyquist limit" : ": not measured"));
      }
    }
  }
  // The legend: the colour map from the range's bottom to its top.
  const auto legend = w.open("g");
  w.attr("class", "axis");
  const LinearScale x{bottom, top, box.left, box.left + 300};
  constexpr int steps = 60;
  for (int i = 0; i < steps; ++i) {
    const double db = bottom + (top - bottom) * (i + 0.5) / steps;
    const auto swatch = w.open("rect");
    w.attr("x", x(bottom + (top - bottom) * i / steps))
        .attr("y", legend_top)
        .attr("width", 300.0 / steps + 0.3)
        .attr("height", 12)
        .attr("fill", colour(db));
  }
  for (const double tick : nice_ticks(bottom, top, 7)) {
    line(w, x(tick), legend_top + 12, x(tick), legend_top + 16, nullptr);
    std::string text = formatted(tick > 0.0 ? "%+g" : "%g", tick);
    if (tick == bottom) text.insert(0, "≤ ");
    label(w, x(tick), legend_top + 28, text, "middle");
  }
  label(w, box.left + 150, legend_top + 46, "level relative to the fundamental (dB)", "middle");
  {
    const auto swatch = w.open("rect");
    w.attr("x", box.left + 330)
        .attr("y", legend_top)
        .attr("width", 18)
        .attr("height", 12)
        .attr("class", "empty");
  }
  label(w, box.left + 354, legend_top + 10, "no value: above the Nyquist limit,", "start",
        "swatch-note");
  label(w, box.left + 354, legend_top + 24, "or the tone not measured", "start", "swatch-note");
}

// One tone's harmonic levels as bars.
void tone_bars(MarkupWriter& w, const ToneFigure& tone, const RecordingFigure& figure) {
  constexpr double width = 560;
  constexpr double height = 170;
  const Box box{62, 12, width - 62 - 12, height - 12 - 44};
  const auto chart =
      svg(w, width, height, "bars", "Tone " + std::to_string(tone.number) + "'s harmonic levels");
  const double bottom = figure.levels_bottom_db;
  const LinearScale y{bottom, figure.levels_top_db, box.bottom(), box.top};
  y_axis(w, box, y, nice_ticks(bottom, figure.levels_top_db, 4), "%g", "dB re h0");
  const double slot =
      box.width / static_cast<double>(std::max<std::size_t>(tone.levels_db.size(), 1));
  {
    const auto axis = w.open("g");
    w.attr("class", "axis");
    line(w, box.left, box.bottom(), box.right(), box.bottom(), nullptr);
    const auto stride = static_cast<std::size_t>(std::ceil(24.0 / slot));
    for (std::size_t k = 0; k < tone.levels_db.size(); k += stride) {
      label(w, box.left + slot * (static_cast<double>(k) + 0.5), box.bottom() + 15,
            harmonic_name(k), "middle");
    }
    label(w, box.left + box.width / 2, box.bottom() + 34, "harmonic", "middle");
  }
  for (std::size_t k = 0; k < tone.levels_db.size(); ++k) {
    const std::optional<double>& level = tone.levels_db[k];
    const double left = box.left + slot * static_cast<double>(k) + slot * 0.15;
    const auto rect = w.open("rect");
    if (level) {
      const double top = y(std::max(*level, bottom));
      w.attr("class", "bar")
          .attr("x", left)
          .attr("y", top)
          .attr("width", slot * 0.7)
          .attr("height", std::max(box.bottom() - top, 0.0));
      title(w, harmonic_name(k) + ": " + decibel_text(*level));
    } else {
      w.attr("class", "empty")
          .attr("x", left)
          .attr("y", box.top)
          .attr("width", slot * 0.7)
          .attr("height", box.height);
      title(w, harmonic_name(k) + ": above the Nyquist limit");
    }
  }
}

// The tone's B when it is a positive number: the tones that the
// inharmonicity chart draws.
std::optional<Inharmonicity> positive_b(const ToneFigure& tone) {
  if (!tone.partials || !tone.partials->inharmonicity) return std::nullopt;
  const Inharmonicity& b = *tone.partials->inharmonicity;
  if (!(b.b > 0.0) || !std::isfinite(b.b)) return std::nullopt;
  return b;
}

// "B = 3.00×10⁻⁴ ± 1.1×10⁻⁷".
std::string b_text(const Inharmonicity& b) {
  std::string text = "B = " + scientific_text(b.b, 3);
  if (std::isfinite(b.uncertainty)) text += " ± " + scientific_text(b.uncertainty, 2);
  return text;
}

// "centroid 523.2 Hz (harmonic 2.38), odd/even -3.1 dB, tristimulus
// 0.42/0.47/0.11, slope -6.0 dB/octave, from 9 harmonics": the tone's
// timbre descriptors, those it has.
std::string timbre_text(const TimbreDescriptors& d) {
  std::string text = formatted("centroid %.1f Hz", d.centroid_hz) +
                     formatted(" (harmonic %.2f)", d.centroid_harmonic);
  if (d.odd_even_db) text += formatted(", odd/even %.1f dB", *d.odd_even_db);
  text +=
      formatted(", tristimulus %.2f", d.t1) + formatted("/%.2f", d.t2) + formatted("/%.2f", d.t3);
  if (d.slope_db_per_octave) text += formatted(", slope %.1f dB/octave", *d.slope_db_per_octave);
  return text + ", from " + std::to_string(d.harmonics_used) +
         (d.harmonics_used == 1 ? " harmonic" : " harmonics");
}

// One tone's partials: each one's deviation in cents from its place in the
// harmonic series (n times partial 1's frequency), and through them the
// stretch that the tone's B gives a stiff string. A partial below the noise
// has no value: it is drawn hollow on the axis.
void tone_partials(MarkupWriter& w, const ToneFigure& tone) {
  const TonePartials& summary = *tone.partials;
  constexpr double width = 400;
  constexpr double height = 170;
  const Box box{62, 26, width - 62 - 12, height - 26 - 44};
  const auto chart = svg(w, width, height, "partials",
                         "Tone " + std::to_string(tone.number) +
                             "'s partials: their deviation from the harmonic series in cents");
  const auto value = [](const TonePartial& partial) -> std::optional<double> {
    if (partial.below_noise || !partial.cents_from_harmonic ||
        !std::isfinite(*partial.cents_from_harmonic)) {
      return std::nullopt;
    }
    return partial.cents_from_harmonic;
  };
  int last = 2;
  for (const TonePartial& partial : summary.partials) last = std::max(last, partial.number);
  std::optional<double> b;
  if (summary.inharmonicity && std::isfinite(stretch_cents(summary.inharmonicity->b, last))) {
    b = summary.inharmonicity->b;
  }
  // The range holds every dot and the curve, which runs monotonically from
  // 0 at partial 1 to its end; at least ±5 cents, so that a harmonic
  // tone's dots lie on 0 in the middle.
  double lo = b ? std::min(0.0, stretch_cents(*b, last)) : 0.0;
  double hi = b ? std::max(0.0, stretch_cents(*b, last)) : 0.0;
  bool hollow = false;
  for (const TonePartial& partial : summary.partials) {
    const std::optional<double> cents = value(partial);
    hollow = hollow || !cents;
    if (!cents) continue;
    lo = std::min(lo, *cents);
    hi = std::max(hi, *cents);
  }
  if (hi - lo < 10.0) {
    const double middle = (lo + hi) / 2.0;
    lo = middle - 5.0;
    hi = middle + 5.0;
  }
  const double margin = (hi - lo) * 0.08;
  const LinearScale x{0.5, last + 0.5, box.left, box.right()};
  const LinearScale y{lo - margin, hi + margin, box.bottom(), box.top};
  y_axis(w, box, y, nice_ticks(lo - margin, hi + margin, 5), "%g", "cents from n × f1");
  x_axis(w, box, x, nice_ticks(1, last, 10), "%g", "partial n");
  line(w, box.left, y(0), box.right(), y(0), "zero");
  if (b) {
    std::string path;
    const int steps = 8 * (last - 1);
    for (int i = 0; i <= steps; ++i) {
      const double n = 1.0 + static_cast<double>(last - 1) * i / steps;
      path.append(i == 0 ? "M" : " L")
          .append(w.number(x(n)))
          .append(" ")
          .append(w.number(y(stretch_cents(*b, n))));
    }
    const auto curve = w.open("path");
    w.attr("class", "stretch").attr("d", path);
    title(w, "The stretch of B = " + scientific_text(*b, 3));
  }
  const double radius = std::clamp(box.width / last / 4.0, 1.8, 3.5);
  for (const TonePartial& partial : summary.partials) {
    const std::optional<double> cents = value(partial);
    const auto dot = w.open("circle");
    w.attr("class", cents ? "partial-dot" : "partial-dot hollow")
        .attr("cx", x(partial.number))
        .attr("cy", cents ? y(*cents) : box.bottom())
        .attr("r", radius);
    std::string text = "partial " + std::to_string(partial.number) + ": ";
    if (cents) {
      text += cents_text(*cents);
      if (partial.level_db) text += ", " + decibel_text(*partial.level_db);
    } else {
      text += partial.below_noise ? "below the noise" : "not measured";
    }
    title(w, text);
  }

  // The legend, along the top: what is drawn.
  double at = box.left;
  const auto entry = [&](const std::string& text) {
    label(w, at + 14, 14, text, "start", "muted");
    at += 14 + 6.5 * static_cast<double>(text.size()) + 14;
  };
  {
    const auto swatch = w.open("circle");
    w.attr("class", "partial-dot").attr("cx", at + 5).attr("cy", 10).attr("r", 3.5);
  }
  entry("partial");
  if (b) {
    line(w, at, 10, at + 10, 10, "stretch");
    entry("stretch of B");
  }
  if (hollow) {
    {
      const auto swatch = w.open("circle");
      w.attr("class", "partial-dot hollow").attr("cx", at + 5).attr("cy", 10).attr("r", 3.5);
    }
    entry("below the noise");
  }
}

// The tones' inharmonicity B against their notes, B on a log axis with
// each tone's standard error as a whisker: the view in which a piano's
// scale shows how the stiffness of its strings runs. Tones without a
// positive B are left out, and counted.
void inharmonicity_chart(MarkupWriter& w, const RecordingFigure& figure, double a4) {
  constexpr double width = 960;
  constexpr double height = 300;
  const Box box{70, 26, width - 70 - 14, height - 26 - 50};
  std::size_t measured = 0;
  double first_note = 1e9, last_note = -1e9, lowest = 1e300, smallest = 1e300, highest = 0.0;
  for (const ToneFigure& tone : figure.tones) {
    measured += tone.measured ? 1 : 0;
    const std::optional<Inharmonicity> b = positive_b(tone);
    if (!b) continue;
    first_note = std::min(first_note, tone.note_number);
    last_note = std::max(last_note, tone.note_number);
    smallest = std::min(smallest, b->b);
    lowest = std::min(lowest, b->b);
    highest = std::max(highest, b->b);
    if (std::isfinite(b->uncertainty) && b->uncertainty > 0.0) {
      if (b->b - b->uncertainty > 0.0) lowest = std::min(lowest, b->b - b->uncertainty);
      highest = std::max(highest, b->b + b->uncertainty);
    }
  }
  // Whole decades strictly around the values, two at least; no more than
  // two below the smallest B for a whisker that reaches down (it then runs
  // to the axis).
  lowest = std::max(lowest, smallest / 100.0);
  const int top = static_cast<int>(std::floor(std::log10(highest))) + 1;
  const int bottom = std::min(static_cast<int>(std::ceil(std::log10(lowest))) - 1, top - 2);
  const LogScale y{bottom, top, box.bottom(), box.top};
  const auto [lo, hi] = note_range(first_note, last_note);
  const LinearScale x{lo, hi, box.left, box.right()};

  const auto chart =
      svg(w, width, height, "inharmonicity",
          "Each tone's inharmonicity B against its note, on a logarithmic scale");
  {
    const auto axis = w.open("g");
    w.attr("class", "axis");
    line(w, box.left, box.top, box.left, box.bottom(), nullptr);
    const int stride = std::max(1, (top - bottom + 7) / 8);
    for (int decade = bottom; decade <= top; ++decade) {
      const double at = y(std::pow(10.0, decade));
      if ((decade - bottom) % stride == 0) {
        line(w, box.left, at, box.right(), at, "grid");
        line(w, box.left - 4, at, box.left, at, nullptr);
        label(w, box.left - 7, at + 4, decade_text(decade), "end");
      }
      // Ticks at 2 to 9 times the decade, where there are few decades.
      if (top - bottom <= 6 && decade < top) {
        for (int m = 2; m <= 9; ++m) {
          const double minor = y(m * std::pow(10.0, decade));
          line(w, box.left - 2.5, minor, box.left, minor, nullptr);
        }
      }
    }
    upright_label(w, box.left - 50, box.top + box.height / 2, "inharmonicity B");
  }
  note_axis(w, box, x, a4, "note");
  std::size_t drawn = 0;
  for (const ToneFigure& tone : figure.tones) {
    const std::optional<Inharmonicity> b = positive_b(tone);
    if (!b) continue;
    ++drawn;
    const auto group = w.open("g");
    w.attr("class", "b-dot");
    title(w, "Tone " + std::to_string(tone.number) + ", " + tone.label + ": " + b_text(*b) +
                 (std::isfinite(b->uncertainty)
                      ? (b->from_passes ? " (the spread of its passes)" : " (the fit)")
                      : std::string()));
    const double centre = x(tone.note_number);
    if (std::isfinite(b->uncertainty) && b->uncertainty > 0.0) {
      const double upper = y(b->b + b->uncertainty);
      const bool open_below = b->b - b->uncertainty <= std::pow(10.0, bottom);
      const double lower = open_below ? box.bottom() : y(b->b - b->uncertainty);
      line(w, centre, upper, centre, lower, "whisker");
      line(w, centre - 3, upper, centre + 3, upper, "cap");
      if (!open_below) line(w, centre - 3, lower, centre + 3, lower, "cap");
    }
    const auto dot = w.open("circle");
    w.attr("cx", centre).attr("cy", y(b->b)).attr("r", 4);
  }
  if (drawn < measured) {
    label(w, box.right(), 14,
          std::to_string(measured - drawn) + " of " + std::to_string(measured) +
              " measured tones left out: no positive B",
          "end", "muted");
  }
}

// How far from its target a tone may lie and still be drawn in place; one
// further (a tone an octave from the note expected of it) is drawn at the
// plot's edge, pointing out of it, and counted.
constexpr double max_deviation_drawn = 200.0;

// A diamond around (x, y): the octave guard's mark.
void diamond(MarkupWriter& w, double x, double y, double r, const char* css_class) {
  const auto path = w.open("path");
  w.attr("class", css_class)
      .attr("d", "M" + w.number(x) + " " + w.number(y - r) + " L" + w.number(x + r) + " " +
                     w.number(y) + " L" + w.number(x) + " " + w.number(y + r) + " L" +
                     w.number(x - r) + " " + w.number(y) + " Z");
}

std::string target_point_title(const TargetPoint& point) {
  std::string text = point.file + ", tone " + std::to_string(point.tone) + ": " +
                     note_name(point.midi) + (point.expected ? " expected, " : " nearest, ") +
                     formatted("%.2f Hz", point.target_hz) + "; measured " +
                     formatted("%.2f Hz", point.frequency) + ", " +
                     cents_text(point.deviation_cents) + ", spread " +
                     formatted("%.2f c", point.spread_cents);
  if (point.octave_taken) {
    text += "; the octave guard took the expected pitch (found " +
            formatted("%.2f Hz", point.octave_found_hz) + ")";
  }
  if (point.split) text += "; split from notes played legato";
  return text;
}

// The run's tones by key: each one's deviation in cents from its target
// with the spread of its passes as a whisker, the targets at zero, and the
// reference pitch that fits the tones best as a line at its distance from
// the tuning's A4 (every target moves with A4, so a whole instrument tuned
// to another reference lies along that line). Tones on one key stand side
// by side within it, in the run's order.
void deviation_chart(MarkupWriter& w, const std::vector<TargetPoint>& points, const Tuning& tuning,
                     const std::optional<BestReference>& best) {
  constexpr double width = 960;
  constexpr double height = 330;
  const Box box{62, 40, width - 62 - 14, height - 40 - 52};
  const auto in_range = [](double cents) { return std::abs(cents) <= max_deviation_drawn; };
  const double reference = best ? reference_offset_cents(best->a4_hz, tuning.a4) : NAN;
  const bool reference_drawn = best && in_range(reference);
  // The deviations' range, the same above zero as below, from ±10 cents up.
  double largest = reference_drawn ? std::abs(reference) : 0.0;
  double first_note = 1e9, last_note = -1e9;
  for (const TargetPoint& point : points) {
    if (in_range(point.deviation_cents)) largest = std::max(largest, std::abs(point.deviation_cents));
    first_note = std::min(first_note, static_cast<double>(point.midi));
    last_note = std::max(last_note, static_cast<double>(point.midi));
  }
  static constexpr std::array<double, 4> extents = {10.0, 20.0, 50.0, 100.0};
  const auto fits = std::find_if(extents.begin(), extents.end(),
                                 [&](double candidate) { return largest * 1.1 <= candidate; });
  const double extent = fits == extents.end() ? max_deviation_drawn : *fits;
  const auto [lo, hi] = note_range(first_note, last_note);
  const LinearScale x{lo, hi, box.left, box.right()};
  const LinearScale y{-extent, extent, box.bottom(), box.top};

  const auto chart = svg(w, width, height, "deviation",
                         "Each tone's deviation from its target in cents against its note");
  y_axis(w, box, y, nice_ticks(-extent, extent, 9), "%g", "deviation from target (cents)");
  note_axis(w, box, x, tuning.a4, "target note");
  {
    const auto group = w.open("g");
    title(w, "The targets: " + tuning_text(tuning));
    line(w, box.left, y(0), box.right(), y(0), "zero");
  }
  // The tones of each key side by side, in the run's order.
  std::map<int, std::size_t> on_key, placed;
  for (const TargetPoint& point : points) ++on_key[point.midi];
  const double key = x(1.0) - x(0.0);
  const double radius = std::clamp(key / 4.0, 2.5, 4.5);
  std::vector<double> centres;
  for (const TargetPoint& point : points) {
    const auto count = static_cast<double>(on_key[point.midi]);
    const auto index = static_cast<double>(placed[point.midi]++);
    const double step = std::min(0.7 * key / count, 4.0 * radius);
    centres.push_back(x(point.midi) + (index - (count - 1.0) / 2.0) * step);
  }

  if (reference_drawn) {
    const double at = y(reference);
    const auto group = w.open("g");
    title(w, best_reference_text(*best) + ", " + cents_text(reference) + " from A4 = " +
                 formatted("%g Hz", tuning.a4));
    line(w, box.left, at, box.right(), at, "reference");
    // The label above the line (below it where the plot's top is too
    // near), at whichever end covers fewer tones.
    const std::string text = best_reference_text(*best);
    const double span = 6.8 * static_cast<double>(text.size());
    const double baseline = at - 14 < box.top ? at + 15 : at - 6;
    const auto covered = [&](double from) {
      std::size_t count = 0;
      for (std::size_t i = 0; i < points.size(); ++i) {
        const double dot = y(std::clamp(points[i].deviation_cents, -extent, extent));
        count += centres[i] > from - 8 && centres[i] < from + span + 8 && dot > baseline - 20 &&
                 dot < baseline + 8;
      }
      return count;
    };
    if (covered(box.left + 4) < covered(box.right() - 4 - span)) {
      label(w, box.left + 4, baseline, text, "start", "reference-label");
    } else {
      label(w, box.right() - 4, baseline, text, "end", "reference-label");
    }
  }

  std::size_t off_scale = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const TargetPoint& point = points[i];
    const double centre = centres[i];
    const auto group = w.open("g");
    w.attr("class", point.split ? "target-dot split" : "target-dot");
    title(w, target_point_title(point));
    if (!in_range(point.deviation_cents) || std::abs(point.deviation_cents) > extent) {
      // At the edge, pointing the way it lies.
      ++off_scale;
      const double edge = point.deviation_cents > 0 ? box.top : box.bottom();
      const double tip = point.deviation_cents > 0 ? -7.0 : 7.0;
      const auto arrow = w.open("path");
      w.attr("class", "off-scale")
          .attr("d", "M" + w.number(centre - 5) + " " + w.number(edge - tip) + " L" +
                         w.number(centre + 5) + " " + w.number(edge - tip) + " L" +
                         w.number(centre) + " " + w.number(edge) + " Z");
      continue;
    }
    const auto clamp = [&](double cents) { return std::clamp(cents, -extent, extent); };
    if (point.spread_cents > 0.0) {
      const double upper = y(clamp(point.deviation_cents + point.spread_cents));
      const double lower = y(clamp(point.deviation_cents - point.spread_cents));
      line(w, centre, upper, centre, lower, "whisker");
      line(w, centre - 3, upper, centre + 3, upper, "cap");
      line(w, centre - 3, lower, centre + 3, lower, "cap");
    }
    if (point.octave_taken) diamond(w, centre, y(point.deviation_cents), radius + 4, "guard-mark");
    const auto dot = w.open("circle");
    w.attr("cx", centre).attr("cy", y(point.deviation_cents)).attr("r", radius);
  }
  if (off_scale > 0) {
    label(w, box.right(), box.top - 6,
          std::to_string(off_scale) + (off_scale == 1 ? " tone lies" : " tones lie") +
              formatted(" beyond ±%g c: drawn at the edge", extent),
          "end", "muted");
  }

  // The legend, along the top: what is drawn.
  const auto legend = w.open("g");
  w.attr("class", "legend");
  double at = box.left;
  const auto entry = [&](const std::string& text) {
    label(w, at + 18, 14, text, "start", "muted");
    at += 18 + 6.5 * static_cast<double>(text.size()) + 18;
  };
  if (!std::all_of(points.begin(), points.end(), [](const TargetPoint& p) { return p.split; })) {
    {
      const auto swatch = w.open("circle");
      w.attr("class", "legend-dot").attr("cx", at + 6).attr("cy", 10).attr("r", 4);
    }
    entry("tone");
  }
  if (std::any_of(points.begin(), points.end(), [](const TargetPoint& p) { return p.split; })) {
    {
      const auto swatch = w.open("circle");
      w.attr("class", "legend-split").attr("cx", at + 6).attr("cy", 10).attr("r", 4);
    }
    entry("split from notes played legato");
  }
  if (std::any_of(points.begin(), points.end(),
                  [](const TargetPoint& p) { return p.octave_taken; })) {
    diamond(w, at + 6, 10, 7, "guard-mark");
    entry("octave guard took the expected pitch");
  }
  line(w, at, 10, at + 14, 10, "zero");
  entry("target");
  if (reference_drawn) {
    line(w, at, 10, at + 14, 10, "reference");
    entry("best reference");
  }
}

void table_head(MarkupWriter& w, const std::vector<std::string>& columns) {
  const auto head = w.open_html("thead");
  const auto row = w.open_html("tr");
  for (const std::string& column : columns) {
    const auto cell = w.open_html("th");
    if (column == "note") w.attr("class", "text");
    w.text(column);
  }
}

void table_row(MarkupWriter& w, const std::vector<std::string>& cells) {
  const auto row = w.open_html("tr");
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const auto cell = w.open_html("td");
    if (i == 5) w.attr("class", "text");  // the note
    w.text(cells[i]);
  }
}

std::string format_text(const RecordingResult& result) {
  const RecordingFormat& format = result.format;
  std::string text = format.container + ", " + format.sample_type + ", " +
                     std::to_string(format.sample_rate) + " Hz, " +
                     std::to_string(format.channels) +
                     (format.channels == 1 ? " channel, " : " channels, ") +
                     formatted("%.3f s analysed", result.seconds(result.samples));
  return text;
}

}  // namespace

std::string HtmlReport::begin() const {
  std::vector<std::string_view> more;
  if (partials_) more.push_back(partials_style_sheet);
  if (tuning_) more.push_back(target_style_sheet);
  std::string page = page_start("toneprint report", generator_, more);
  page += "\n<body>";
  {
    MarkupWriter w(page);
    patterns(w);
    w.element("h1", "toneprint report");
    const auto meta = w.open_html("p");
    w.attr("class", "meta");
    w.text(generator_ + "; notes named for A4 = " + formatted("%g", a4_) + " Hz.");
  }
  return page.append("\n");
}

std::string HtmlReport::end(const std::optional<BestReference>& best) const {
  std::string page;
  if (tuning_) {
    MarkupWriter w(page);
    const auto section = w.open_html("section");
    w.attr("class", "run").attr("id", "tuning-by-key");
    w.element("h2", "Tuning by key");
    if (targets_.empty()) {
      w.element("p", "No tone was measured, so none lies anywhere from its target. Targets: " +
                         tuning_text(*tuning_) + ".");
    } else {
      const auto fig = w.open_html("figure");
      deviation_chart(w, targets_, *tuning_, best);
      std::string caption =
          "Each measured tone of the run: its deviation in cents from its target (the note "
          "expected of it, or else the tuning's nearest) against that note; the whisker spans ± "
          "the standard deviation of its passes. Targets: " +
          tuning_text(*tuning_) + ".";
      if (best) {
        const double offset = reference_offset_cents(best->a4_hz, tuning_->a4);
        caption += " The dashed line is the reference pitch that fits the tones best, " +
                   best_reference_text(*best) + ": " + cents_text(offset) + " from A4 = " +
                   formatted("%g Hz", tuning_->a4) + ".";
      }
      w.element("figcaption", caption);
    }
    page += "\n";
  }
  return page + "</body></html>\n";
}

std::string HtmlReport::recording(
    const RecordingResult& result,
    const std::vector<std::pair<std::string, std::string>>& settings) {
  ++sections_;
  if (tuning_) {
    std::vector<TargetPoint> points = target_points(result, *tuning_, sections_);
    targets_.insert(targets_.end(), std::make_move_iterator(points.begin()),
                    std::make_move_iterator(points.end()));
  }
  std::string page;
  {
    MarkupWriter w(page);
    const auto section = w.open_html("section");
    w.attr("class", "recording").attr("id", section_id(sections_));
    recording_section(w, result, settings, sections_);
  }
  return page.append("\n");
}

void HtmlReport::recording_section(MarkupWriter& w, const RecordingResult& result,
                                   const std::vector<std::pair<std::string, std::string>>& settings,
                                   int number) const {
  w.element("h2", result.path);
  if (!result.error.empty()) {
    const auto p = w.open_html("p");
    w.attr("class", "error");
    w.text(result.error);
  }
  if (!result.opened) return;

  const RecordingFigure figure = recording_figure(result, a4_, partials_);
  const std::size_t measured =
      static_cast<std::size_t>(std::count_if(figure.tones.begin(), figure.tones.end(),
                                             [](const ToneFigure& tone) { return tone.measured; }));
  std::string peak;
  if (result.levels) peak = formatted(", peak %.1f dBFS", figure.peak_dbfs);
  w.element("p", format_text(result) + peak + "; " + std::to_string(figure.tones.size()) +
                     (figure.tones.size() == 1 ? " tone, " : " tones, ") +
                     std::to_string(measured) + " measured.");
  if (figure.tones.empty()) {
    w.element("p", formatted("No tone: no sample rose above the silence threshold (%.1f dBFS), "
                             "or the recording ended within the attack skip after it.",
                             figure.threshold_dbfs));
  }

  w.element("h3", "Overview");
  {
    const auto fig = w.open_html("figure");
    overview(w, result, figure);
    w.element("figcaption",
              "Peak level per column in dBFS (grey); each tone shaded and labelled with its "
              "nearest note and deviation where there is room (hover for every value).");
  }
  if (measured > 0) {
    tuning_and_timbre(w, result, figure);
  }
  if (!figure.tones.empty()) tones_and_numbers(w, result, figure, number);
  settings_table(w, settings);
}

void HtmlReport::tuning_and_timbre(MarkupWriter& w, const RecordingResult& result,
                                   const RecordingFigure& figure) const {
  w.element("h3", "Tuning");
  {
    const auto fig = w.open_html("figure");
    tuning(w, figure);
    w.element("figcaption",
              "Deviation of each tone's mean fundamental from its nearest equal-tempered note "
              "(A4 = " +
                  formatted("%g", a4_) +
                  " Hz); the whisker spans ± the standard deviation "
                  "of its passes" +
                  (partials_ ? "; the wider bar, ± the extent of its vibrato where it has one"
                             : "") +
                  ". Guides at ±5 and ±50 cents.");
  }

  const std::size_t harmonics = static_cast<std::size_t>(result.settings.harmonic_count) + 1;
  w.element("h3", "Timbre map");
  {
    const auto fig = w.open_html("figure");
    timbre_map(w, figure, harmonics);
    w.element("figcaption",
              "Each harmonic's mean amplitude in dB relative to the tone's fundamental (h0); "
              "levels below the legend's lowest are drawn in its colour.");
  }
  if (!partials_) return;

  w.element("h3", "Inharmonicity");
  if (std::none_of(figure.tones.begin(), figure.tones.end(),
                   [](const ToneFigure& tone) { return positive_b(tone).has_value(); })) {
    w.element("p",
              "No tone has a positive inharmonicity B: their partials lie on the harmonic "
              "series, or too few of them were read to fit one.");
    return;
  }
  const auto fig = w.open_html("figure");
  inharmonicity_chart(w, figure, a4_);
  w.element("figcaption",
            "Each tone's inharmonicity coefficient B against its note (B as in f_n = n F √(1 + "
            "B n²), a stiff string's partials), on a logarithmic axis; the whisker spans ± its "
            "standard error, from the spread of the tone's passes where two or more gave a B, "
            "otherwise from the fit. Tones whose B is zero or negative are left out.");
}

void HtmlReport::tones_and_numbers(MarkupWriter& w, const RecordingResult& result,
                                   const RecordingFigure& figure, int number) const {
  std::vector<std::string> columns = tone_table_columns(result.settings.harmonic_count);
  // The row of tone `index`, with the partials' cells where they were asked for.
  const auto row = [&](std::size_t index) {
    std::vector<std::string> cells =
        tone_table_row(result, index, result.settings.harmonic_count, a4_);
    // The later place first, so that both are where the plain table has them.
    if (partials_) {
      const std::vector<std::string> more = partials_table_cells(result.tones[index]);
      cells.insert(cells.begin() + partials_table_at, more.begin(), more.end());
    }
    if (tuning_) {
      const std::vector<std::string> more = target_table_cells(result.tones[index], *tuning_);
      cells.insert(cells.begin() + target_table_at, more.begin(), more.end());
    }
    return cells;
  };
  if (partials_) {
    const std::vector<std::string> more = partials_table_columns();
    columns.insert(columns.begin() + partials_table_at, more.begin(), more.end());
  }
  if (tuning_) {
    const std::vector<std::string> more = target_table_columns();
    columns.insert(columns.begin() + target_table_at, more.begin(), more.end());
  }
  w.element("h3", "Tones");
  for (const ToneFigure& tone : figure.tones) {
    const auto fig = w.open_html("figure");
    w.attr("class", "tone")
        .attr("id", section_id(number).append("-tone-").append(std::to_string(tone.number)));
    if (tone.measured && partials_ && tone.partials && !tone.partials->partials.empty()) {
      const auto charts = w.open_html("div");
      w.attr("class", "tone-charts");
      tone_bars(w, tone, figure);
      tone_partials(w, tone);
    } else if (tone.measured) {
      tone_bars(w, tone, figure);
    }
    {
      const auto caption = w.open_html("figcaption");
      w.element("b", tone_summary(tone));
      if (tone.measured) {
        const bool fundamental = !tone.levels_db.empty() && tone.levels_db[0].has_value();
        w.text(fundamental
                   ? "; fundamental " + formatted("%.1f dBFS", tone.fundamental_dbfs) +
                         " (loudest pass " + formatted("%.1f dBFS", tone.max_fundamental_dbfs) + ")"
                   : std::string("; fundamental above the Nyquist limit"));
        w.text(", " + std::to_string(tone.measured_s.size()) +
               (tone.measured_s.size() == 1 ? " pass" : " passes"));
        if (const std::optional<TimbreDescriptors> d =
                tone_timbre(result.tones[tone.number - 1], result.format.sample_rate, partials_)) {
          w.text("; " + timbre_text(*d));
        }
        if (partials_ && !tone.partials) {
          w.text("; partials not read: no pass was long enough for them");
        } else if (partials_) {
          if (tone.partials->inharmonicity) w.text("; " + b_text(*tone.partials->inharmonicity));
          if (tone.partials->vibrato) w.text("; " + vibrato_text(*tone.partials->vibrato));
        }
      } else if (tone.failed_s.empty()) {
        // What a pass needs after the attack: the pitch block and the
        // shortest DFT frame, which begins with it.
        const AnalysisSettings& settings = result.settings;
        const double block = static_cast<double>(settings.fft_size + settings.fft_hop) /
                             static_cast<double>(settings.sample_rate);
        w.text(formatted("; a pass needs at least %.2f s after the attack skip of ",
                         std::max(block, settings.min_tone_seconds)) +
               formatted("%g s", settings.attack_seconds));
      }
      if (!tone.failed_s.empty()) {
        w.text(", " + std::to_string(tone.failed_s.size()) + " without a pitch");
      }
      w.text(".");
    }
    const auto wrap = w.open_html("div");
    w.attr("class", "table-wrap");
    const auto table = w.open_html("table");
    table_head(w, columns);
    const auto body = w.open_html("tbody");
    table_row(w, row(tone.number - 1));
  }

  w.element("h3", "Numbers");
  {
    const auto wrap = w.open_html("div");
    w.attr("class", "table-wrap");
    const auto table = w.open_html("table");
    w.attr("class", "numbers");
    table_head(w, columns);
    const auto body = w.open_html("tbody");
    for (std::size_t i = 0; i < result.tones.size(); ++i) {
      table_row(w, row(i));
    }
  }
}

void HtmlReport::settings_table(MarkupWriter& w,
                                const std::vector<std::pair<std::string, std::string>>& settings) {
  w.element("h3", "Settings");
  {
    const auto table = w.open_html("table");
    w.attr("class", "settings");
    const auto body = w.open_html("tbody");
    for (const auto& [name, value] : settings) {
      const auto row = w.open_html("tr");
      {
        const auto cell = w.open_html("th");
        w.attr("class", "text");
        w.text(name);
      }
      w.element("td", value);
    }
  }
}

}  // namespace toneprint
