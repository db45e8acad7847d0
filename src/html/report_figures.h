#pragma once

// What the HTML report draws, in the units it draws it: times in seconds,
// levels in dB, deviations in cents. The layout only places these.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "toneprint/toneprint.h"

namespace toneprint {

// The lowest level drawn; anything quieter is drawn at it.
inline constexpr double level_floor_dbfs = -80.0;
// The range of the harmonic levels' colour map and bars, below its top.
inline constexpr double harmonic_range_db = 60.0;

struct ToneFigure {
  std::size_t number = 0;  // from 1
  double start_s = 0.0;
  double attack_end_s = 0.0;  // where the skipped attack ends (at most the end)
  double end_s = 0.0;
  bool measured = false;
  // "A4 +1.3 c" for a measured tone; why not for one without passes: "too
  // short" when no pass could be taken, "no pitch" when none found one.
  std::string label;
  std::string note;
  double note_number = 0.0;  // the note's MIDI number plus its deviation: 69.5 is A4 +50 c
  double frequency = 0.0;    // Hz
  double cents = 0.0;
  double spread_cents = 0.0;
  double fundamental_dbfs = 0.0;      // the fundamental's mean amplitude
  double max_fundamental_dbfs = 0.0;  // and its largest over the passes
  // Harmonic k's mean amplitude in dB relative to the fundamental's; none
  // above the Nyquist limit or where the fundamental was not measured.
  std::vector<std::optional<double>> levels_db;
  std::vector<double> measured_s;  // the times of the passes the means include
  std::vector<double> left_out_s;  // and of those the consensus left out
  double analysed_until_s = 0.0;   // where a followed tail ends; 0 for none
  std::vector<double> failed_s;    // the failed passes' times
  // The partials analysis's summary, where it was asked for and read.
  std::optional<TonePartials> partials;
};

struct RecordingFigure {
  double duration_s = 0.0;
  double threshold_dbfs = 0.0;          // the silence threshold
  double peak_dbfs = level_floor_dbfs;  // the loudest sample, where the levels were kept
  std::vector<ToneFigure> tones;
  // The harmonic levels' range: the top a multiple of 10 dB, at least 0,
  // at or above every level; the bottom harmonic_range_db below it.
  double levels_top_db = 0.0;
  double levels_bottom_db = -harmonic_range_db;
};

// A tone as the deviation-by-key chart draws it: against its target (the
// note expected of it, or else the tuning's nearest), which it lies
// `deviation_cents` from, with the spread of its passes. Only measured
// tones have a deviation to draw.
struct TargetPoint {
  int recording = 0;     // the page's section, from 1
  std::size_t tone = 0;  // from 1
  std::string file;
  int midi = 69;          // the target note
  bool expected = false;  // the note is the one expected, not the nearest
  double target_hz = 0.0;
  double frequency = 0.0;
  double deviation_cents = 0.0;
  double spread_cents = 0.0;
  // The octave guard took the expected pitch, an octave, a twelfth or two
  // octaves from the one found.
  bool octave_taken = false;
  double octave_found_hz = 0.0;
  bool split = false;  // split from a tone of notes played legato
};

// The measured tones of `result`, the `recording`-th of the page.
std::vector<TargetPoint> target_points(const RecordingResult& result, const Tuning& tuning,
                                       int recording);

// Where a reference pitch of `best_a4` Hz lies from the tuning's `a4`, in
// cents: every target moves with A4, so the tones that fit it best lie
// this far from the tuning's targets.
double reference_offset_cents(double best_a4, double a4);

// "werckmeister-iii on C, A4 = 415 Hz, stretch +0.5 c per octave" ("no
// stretch" for none): the tuning as the report names it.
std::string tuning_text(const Tuning& tuning);

// "best A4 = 441.27 Hz ± 0.08 (24 tones)".
std::string best_reference_text(const BestReference& best);

// The figures of the recording's tones; with `partials`, their partials
// too (a page without them draws none, whatever the tones hold).
RecordingFigure recording_figure(const RecordingResult& result, double a4, bool partials = false);

// The peak level of each of `columns` equal stretches of the first
// `samples` samples, in dBFS, no lower than level_floor_dbfs.
std::vector<double> column_levels(const LevelEnvelope& levels, std::uint64_t samples,
                                  std::size_t columns);

// "+1.3 c", "-0.4 c", "0.0 c": a deviation in cents as labels show it.
std::string cents_text(double cents);

// Where a stiff string of inharmonicity `b` puts partial `n` (from 1), in
// cents from n times partial 1's frequency: 1200 log2 sqrt((1 + b n²) /
// (1 + b)). 0 for a harmonic tone; NaN where the root has no value.
double stretch_cents(double b, double n);

// "3.00×10⁻⁴" with `digits` significant digits (1 to 6), "0" for 0: an
// inharmonicity as people read it.
std::string scientific_text(double value, int digits);
// "10⁻⁴": a decade as a log axis labels it.
std::string decade_text(int exponent);
// "vibrato 5.6 Hz ±23 c".
std::string vibrato_text(const Vibrato& vibrato);

}  // namespace toneprint
