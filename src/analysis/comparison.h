#pragma once

// Sets of tones side by side: takes before and after voicing, two
// instruments, a rank from bottom to top. Each set's tones are matched by
// note (the note expected of a tone where one was given, otherwise the
// nearest note of the tuning); a note measured more than once in a set is
// summarised by the mean of its tones and their spread (the standard
// deviation, 0 for a single tone). The first set is the reference that the
// others' differences are taken from.
//
// Levels are in dB. A harmonic's absolute level is 20 log10(A / full_scale), in
// dB of full scale on the 16-bit scale the amplitudes are measured on; its
// relative level is 20 log10(A_k / A_1), in dB of the tone's fundamental.
// Means and spreads of levels are taken over the levels in dB.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "analysis/recording_result.h"
#include "analysis/timbre.h"
#include "analysis/tuning.h"

namespace toneprint {

// One measured tone as a comparison takes it, from a run's results or from
// a stored file of them.
struct ComparedTone {
  std::string file;       // the recording it was measured in
  std::size_t tone = 0;   // its number there, from 1
  int note = 0;           // the MIDI note it is matched by
  bool expected = false;  // that note was expected of it, not the nearest
  double frequency_hz = 0.0;
  // Its deviation from the note's target, in cents.
  std::optional<double> deviation_cents;
  // amplitudes[k - 1] = A_k, the mean amplitude of harmonic number k (or,
  // from a run with partials, of partial k), on the 16-bit scale; none
  // where it lay above the Nyquist limit or was not measured.
  std::vector<std::optional<double>> amplitudes;
  std::optional<TimbreDescriptors> descriptors;
};

struct ComparisonSet {
  std::string name;  // as the user named it: a recording, a folder, a file of results
  std::vector<ComparedTone> tones;
};

// A mean and its spread over a note's tones (or, in a set's summary, over
// all its tones); none where no tone gave a value.
struct Spread {
  double mean = 0.0;
  double spread = 0.0;  // standard deviation about the mean; 0 for one value
  std::size_t count = 0;
};

// What a group of tones measured, each number as its mean and spread over
// the tones that have it.
struct ToneSpreads {
  // Per harmonic number k (index k - 1) up to the longest of the tones: the
  // absolute and the relative level.
  std::vector<std::optional<Spread>> level_dbfs;
  std::vector<std::optional<Spread>> relative_db;
  std::optional<Spread> deviation_cents;
  // The descriptors.
  std::optional<Spread> centroid_harmonic, centroid_hz, odd_even_db, t1, t2, t3,
      slope_db_per_octave;
};

// One set's tones of one note.
struct SetNote : ToneSpreads {
  std::size_t tones = 0;
};

// A note and what each set measured of it.
struct ComparedNote {
  int note = 0;
  // Per set, in the sets' order; none where the set has no tone of it.
  std::vector<std::optional<SetNote>> sets;
  // Per set, per harmonic number k (index k - 1): the set's mean level
  // minus the reference set's, relative levels for k >= 2 and the absolute
  // level for k = 1 (the fundamental's relative level is 0 by definition);
  // none where either lacks it. The reference's own differences are 0.
  std::vector<std::vector<std::optional<double>>> difference_db;
};

// A least-squares line of a level (dB) against the MIDI note.
struct TrendLine {
  double intercept_db = 0.0;  // at MIDI note 0
  double slope_db_per_octave = 0.0;
  std::size_t notes = 0;  // the notes it was fitted to (2 or more)
  double at(int note) const { return intercept_db + slope_db_per_octave * note / 12.0; }
};

// One set over all its notes: its numbers over all its tones.
struct SetSummary : ToneSpreads {
  std::string name;
  std::size_t tones = 0;
  std::size_t notes = 0;
  // Per harmonic number up to trend_harmonics: the absolute level's trend
  // over the set's notes (each note's mean); none with fewer than two notes.
  std::vector<std::optional<TrendLine>> trends;
};

// How many harmonics the trends across notes follow.
inline constexpr std::size_t trend_harmonics = 6;

struct Comparison {
  std::vector<SetSummary> sets;
  // The notes the reference set and at least one other set measured, low
  // to high.
  std::vector<ComparedNote> matched;
  // Every note not matched, low to high, with what each set measured of it
  // (the reference set has none, or no other set has it).
  std::vector<ComparedNote> unmatched;
  // The most harmonics any tone has.
  std::size_t harmonics = 0;
};

// Compares the sets, the first one the reference.
Comparison compare_sets(const std::vector<ComparisonSet>& sets);

// The comparison in tidy long form, one row per note (the matched ones low
// to high, then the unmatched ones), set (in order; a set without the note
// has no rows for it) and harmonic number k from 1: the set's mean level,
// for k = 1 the fundamental's absolute level in dBFS and for k >= 2 the
// level relative to the fundamental; its spread over the note's tones; and
// its difference from the reference set's (none for an unmatched note or
// where either lacks it). Written as CSV and given to Python as records.
struct ComparisonRow {
  int note = 0;
  bool matched = false;
  std::size_t set = 0;  // index into Comparison::sets
  int harmonic = 1;
  bool relative = false;  // relative to the fundamental, not to full scale
  std::optional<double> level_db;
  std::optional<double> spread_db;
  std::optional<double> difference_db;
  std::size_t tones = 0;  // the tones the level is the mean of (0 without one)
};
std::vector<ComparisonRow> comparison_rows(const Comparison& comparison);

// What a row's level is relative to: "full scale" or "fundamental".
const char* row_reference_name(const ComparisonRow& row);

// A run's measured tones as a comparison takes them: matched by the note
// expected of each where there is one, otherwise by the tuning's nearest
// note; with `partials` (the run asked for them) a tone that the partials
// analysis summed up gives its partials' amplitudes (those below the noise
// left out), otherwise its harmonics'.
std::vector<ComparedTone> compared_tones(const RecordingResult& result, const Tuning& tuning,
                                         bool partials);

}  // namespace toneprint
