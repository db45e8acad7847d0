#include "html/report_figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "toneprint/toneprint.h"
#include "html/chart_scale.h"

namespace toneprint {

std::string cents_text(double cents) {
  char text[32];
  const double tenths = std::round(cents * 10.0) / 10.0;
  std::snprintf(text, sizeof text, tenths == 0.0 ? "%.1f c" : "%+.1f c",
                tenths == 0.0 ? 0.0 : tenths);
  return text;
}

double stretch_cents(double b, double n) {
  const double ratio = (1.0 + b * n * n) / (1.0 + b);
  if (!(ratio > 0.0) || !std::isfinite(ratio)) return NAN;
  return 600.0 * std::log2(ratio);
}

namespace {

// The digits and signs of a number as superscripts.
std::string superscript(const std::string& text) {
  static constexpr const char* digits[] = {"⁰", "¹", "²", "³", "⁴", "⁵", "⁶", "⁷", "⁸", "⁹"};
  std::string raised;
  for (const char c : text) {
    if (c == '-') {
      raised += "⁻";
    } else if (c >= '0' && c <= '9') {
      raised += digits[c - '0'];
    }
  }
  return raised;
}

}  // namespace

std::string decade_text(int exponent) { return "10" + superscript(std::to_string(exponent)); }

std::string scientific_text(double value, int digits) {
  if (value == 0.0) return "0";
  if (!std::isfinite(value)) return "–";
  // printf rounds the mantissa and carries into the exponent: 9.996e-5 is
  // 1.00e-04.
  char text[48];
  std::snprintf(text, sizeof text, "%.*e", std::clamp(digits, 1, 6) - 1, value);
  const std::string written(text);
  const std::size_t e = written.find('e');
  const int exponent = std::stoi(written.substr(e + 1));
  if (exponent == 0) return written.substr(0, e);
  return written.substr(0, e) + "×" + decade_text(exponent);
}

std::string vibrato_text(const Vibrato& vibrato) {
  char text[64];
  std::snprintf(text, sizeof text, "vibrato %.1f Hz ±%.0f c", vibrato.rate_hz,
                vibrato.extent_cents);
  return text;
}

namespace {

ToneFigure tone_figure(const RecordingResult& result, std::size_t index, double a4,
                       bool partials) {
  const ToneRecord& tone = result.tones[index];
  ToneFigure figure;
  figure.number = index + 1;
  figure.start_s = result.seconds(tone.start);
  figure.end_s = result.seconds(tone.end);
  const std::uint64_t attack =
      duration_samples(result.settings.sample_rate, result.settings.attack_seconds);
  figure.attack_end_s = result.seconds(std::min(tone.end, tone.start + 1 + attack));
  if (tone.analysed_until > 0) {
    // Analysed again in the robust mode, with a shorter attack skip or into
    // its tail.
    figure.attack_end_s = result.seconds(tone.analysed_from);
    figure.analysed_until_s = result.seconds(tone.analysed_until);
  }
  for (const MeasuredPass& pass : tone.passes) {
    (pass.used ? figure.measured_s : figure.left_out_s).push_back(result.seconds(pass.first));
  }
  for (const FailedPass& pass : tone.failures)
    figure.failed_s.push_back(result.seconds(pass.first));
  figure.measured = tone.measured();
  if (!figure.measured) {
    figure.label = tone.failures.empty() ? "too short" : "no pitch";
    return figure;
  }
  const NearestNote note = nearest_note(tone.frequency(), a4);
  figure.note = note.name;
  figure.note_number = note.midi + note.cents / 100.0;
  if (partials) figure.partials = tone.partials;
  figure.frequency = tone.frequency();
  figure.cents = note.cents;
  figure.spread_cents = tone.spread_cents();
  figure.label = note.name + " " + cents_text(note.cents);
  const std::optional<double> fundamental = tone.harmonic(0);
  figure.fundamental_dbfs = decibels(fundamental.value_or(0.0), full_scale, level_floor_dbfs);
  figure.max_fundamental_dbfs =
      decibels(tone.totals.max_fundamental_amplitude, full_scale, level_floor_dbfs);
  for (std::size_t k = 0; k < tone.totals.amplitude_sums.size(); ++k) {
    const std::optional<double> amplitude = tone.harmonic(k);
    if (amplitude && fundamental && *fundamental > 0.0) {
      figure.levels_db.emplace_back(20.0 * std::log10(std::max(*amplitude, 1e-300) / *fundamental));
    } else {
      figure.levels_db.emplace_back(std::nullopt);
    }
  }
  return figure;
}

}  // namespace

RecordingFigure recording_figure(const RecordingResult& result, double a4, bool partials) {
  RecordingFigure figure;
  figure.duration_s = result.seconds(result.samples);
  figure.threshold_dbfs = decibels(result.settings.silence_threshold, full_scale, level_floor_dbfs);
  if (result.levels && !result.levels->peaks().empty()) {
    const std::vector<double>& peaks = result.levels->peaks();
    figure.peak_dbfs =
        decibels(*std::max_element(peaks.begin(), peaks.end()), full_scale, level_floor_dbfs);
  }
  double highest = 0.0;
  for (std::size_t i = 0; i < result.tones.size(); ++i) {
    figure.tones.push_back(tone_figure(result, i, a4, partials));
    for (const std::optional<double>& level : figure.tones.back().levels_db) {
      if (level) highest = std::max(highest, *level);
    }
  }
  figure.levels_top_db = std::ceil(highest / 10.0 - 1e-9) * 10.0;
  figure.levels_bottom_db = figure.levels_top_db - harmonic_range_db;
  return figure;
}

std::vector<TargetPoint> target_points(const RecordingResult& result, const Tuning& tuning,
                                       int recording) {
  std::vector<TargetPoint> points;
  for (std::size_t i = 0; i < result.tones.size(); ++i) {
    const ToneRecord& tone = result.tones[i];
    const std::optional<ToneTarget> target = tone_target(tone, tuning);
    if (!target || !target->deviation_cents) continue;
    TargetPoint point;
    point.recording = recording;
    point.tone = i + 1;
    point.file = result.path;
    point.midi = target->note.midi;
    point.expected = target->expected;
    point.target_hz = target->hz;
    point.frequency = tone.frequency();
    point.deviation_cents = *target->deviation_cents;
    point.spread_cents = tone.spread_cents();
    if (tone.octave_check && tone.octave_check->taken) {
      point.octave_taken = true;
      point.octave_found_hz = tone.octave_check->measured;
    }
    point.split = tone.split_from.has_value();
    points.push_back(std::move(point));
  }
  return points;
}

double reference_offset_cents(double best_a4, double a4) { return 1200.0 * std::log2(best_a4 / a4); }

std::string tuning_text(const Tuning& tuning) {
  std::string root = note_name(60 + tuning.root);
  root.pop_back();  // the octave
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, ", A4 = %g Hz", tuning.a4);
  std::string text = (tuning.temperament.name.empty() ? std::string("equal")
                                                      : tuning.temperament.name) +
                     " on " + root + numbers;
  if (tuning.stretch_cents == 0.0) return text + ", no stretch";
  std::snprintf(numbers, sizeof numbers, ", stretch %+g c per octave", tuning.stretch_cents);
  return text + numbers;
}

std::string best_reference_text(const BestReference& best) {
  char text[96];
  std::snprintf(text, sizeof text, "best A4 = %.2f Hz ± %.2f (%zu tone%s)", best.a4_hz,
                best.interval_hz, best.tones, best.tones == 1 ? "" : "s");
  return text;
}

std::vector<double> column_levels(const LevelEnvelope& levels, std::uint64_t samples,
                                  std::size_t columns) {
  std::vector<double> dbfs(columns, level_floor_dbfs);
  if (columns == 0) return dbfs;
  for (std::size_t c = 0; c < columns; ++c) {
    const auto edge = [&](std::size_t column) {
      return static_cast<std::uint64_t>(static_cast<long double>(samples) * column / columns);
    };
    const std::uint64_t first = edge(c);
    const std::uint64_t last = edge(c + 1);
    // A column narrower than a sample shows the sample it lies in.
    const double peak = levels.peak(first, std::max(last, first + 1));
    dbfs[c] = decibels(peak, full_scale, level_floor_dbfs);
  }
  return dbfs;
}

}  // namespace toneprint
