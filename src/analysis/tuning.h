#pragma once

// Targets to tune against: notes named or numbered, a temperament (built in
// or read from a scale file) laid on a root, a reference pitch for A4 and a
// stretch; the frequency each note should sound at, a tone's deviation from
// it, and the reference pitch that best fits a set of measured tones.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/sample_source.h"

namespace toneprint {

// A note as a user writes it: a name in scientific pitch notation (a letter
// A-G in either case, an optional '#' or 'b', an octave from -1 to 9: "C#4",
// "Bb2", "a-1") or a MIDI number from 0 to 127 ("60"). None when `text` is
// neither, or names a note outside MIDI's 0 to 127.
std::optional<int> parse_note(std::string_view text);

// A pitch class as a user writes it: a note name without its octave ("C",
// "F#", "Bb"); 0 for C to 11 for B. None when `text` is not one.
std::optional<int> parse_pitch_class(std::string_view text);

// "C", "C#", ... "B" for a pitch class from 0 to 11: the name
// parse_pitch_class reads back.
std::string pitch_class_name(int pitch_class);

// The note that a recording's file name gives: the name without its folders
// and extension holds exactly one note name (set off from letters and
// digits: "Piano_C#4.wav", "A3-soft.flac", "Bb2 mf.wav", with 's' for a
// sharp too: "Fs3.wav") or, when it holds
// none, is one MIDI number ("060.wav"). Otherwise `error` says which file
// holds no note or two.
struct NoteInName {
  std::optional<int> midi;
  std::string error;
};
NoteInName note_in_file_name(std::string_view path);

// What the tones of a run are expected to sound, as a user gives it: a list
// of notes, one per tone in order; the note in each recording's file name;
// or the note in each WAVE file's sampler chunk.
enum class ExpectationKind { none, list, file_name, sampler };
struct Expectation {
  ExpectationKind kind = ExpectationKind::none;
  std::vector<MidiNote> notes;  // for a list
};
struct ExpectationParse {
  Expectation expectation;
  std::string error;  // why `text` gives none, naming the entry or line
};
// "filename", "smpl", "@FILE" (a file with one note per line; blank lines
// and lines starting with '#' are skipped) or notes separated by commas.
ExpectationParse parse_expectation(std::string_view text);

// The most notes a list may hold, and the largest file it may be read from.
inline constexpr std::size_t max_expected_notes = 100000;
inline constexpr std::size_t max_expectation_file_bytes = 1 << 20;

// A temperament: the degrees of its scale in cents above its first degree
// (which is 0), rising, and the interval at which the scale repeats.
struct Temperament {
  std::string name;
  std::vector<double> degrees;
  double period_cents = 1200.0;
};

// The temperaments built in, each with its twelve degrees from C.
struct BuiltInTemperament {
  const char* name;         // as the front-ends take it: "equal", "werckmeister-iii", ...
  const char* description;  // a line for --help
  std::array<double, 12> cents;
};
extern const std::array<BuiltInTemperament, 9> built_in_temperaments;

// Reads a temperament: a built-in name, or a scale file in the Scala format
// (a path ending in .scl). `error` names the line of a malformed file.
struct TemperamentRead {
  std::optional<Temperament> temperament;
  std::string error;
};
TemperamentRead read_temperament(std::string_view name_or_path);

// Parses the text of a Scala scale file: '!' comment lines, a description
// line, the count of notes, then one note per line as a ratio ("3/2", "2")
// or cents (a number with a '.'). The last note is the period. Bounded by
// the limits below.
TemperamentRead parse_scala(std::string_view text);
inline constexpr std::size_t max_scale_file_bytes = 1 << 16;
inline constexpr std::size_t max_scale_degrees = 1024;

// The bounds of a stretch, in cents per octave.
inline constexpr double max_stretch_cents = 50.0;

// What a tone is judged against.
struct Tuning {
  Temperament temperament;  // equal temperament when empty
  int root = 0;             // the pitch class of its first degree: 0 is C, 9 is A
  double a4 = 440.0;        // Hz
  double stretch_cents = 0.0;  // cents per octave, from A4 (positive: wider octaves)
};

// The frequency (Hz) at which `note` should sound. A4 sounds at tuning.a4;
// the other notes at the temperament's intervals from it, each octave above
// A4 wider by the stretch (and each below narrower).
double target_hz(const Tuning& tuning, const MidiNote& note);

// The note of the tuning whose target lies nearest `frequency` (Hz, above 0
// and finite), and the frequency's deviation from it in cents. Any other
// frequency gives A4 with cents not a number.
struct TargetNote {
  int midi = 69;
  double hz = 0.0;
  double cents = 0.0;
};
TargetNote nearest_target(const Tuning& tuning, double frequency);

// The deviation of `frequency` from `target` in cents.
double cents_from(double frequency, double target);

// The A4 at which a set of tones fits the tuning best: each tone's
// frequency and the note it is judged against give the A4 it would fit
// exactly; the fit is their median, and the interval the half-width of the
// median's 95 % interval (from the median absolute deviation; 0 for a
// single tone, which gives no spread to judge). Tones whose frequency is not
// above 0 and finite are left out (`tones` counts those used); none when no
// tone is left.
struct JudgedTone {
  double frequency = 0.0;
  MidiNote note;
};
struct BestReference {
  double a4_hz = 0.0;
  double interval_hz = 0.0;
  std::size_t tones = 0;
};
std::optional<BestReference> best_reference(const Tuning& tuning,
                                            std::span<const JudgedTone> tones);

}  // namespace toneprint
