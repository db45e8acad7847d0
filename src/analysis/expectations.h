#pragma once

// The notes a recording's tones are expected to sound, the target each tone
// is judged against and how far it lies from it, the reference pitch that
// fits a run's tones best, and the octave guard that an expected note
// allows.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/recording_analysis.h"
#include "analysis/recording_result.h"
#include "analysis/tuning.h"

namespace toneprint {

// Gives each tone of `result` the note expected of it (ToneRecord::expected):
// for a list, its notes from position `next` on, which moves past the tones
// given one (tones beyond the list's end get none); the note in the
// recording's file name (result.path); or its sampler chunk's unity note.
// Returns why the recording's tones get none, naming the recording, or
// empty.
std::string expect_notes(RecordingResult& result, const Expectation& expectation,
                         std::size_t& next);

// What a tone is judged against, and how far it lies from it.
struct ToneTarget {
  MidiNote note;          // the expected note, or else the tuning's nearest
  bool expected = false;  // the note is the expected one
  double hz = 0.0;        // the note's target frequency
  // The tone's deviation from the target, in cents; none when it was not
  // measured.
  std::optional<double> deviation_cents;
};
// None for a tone neither expected nor measured.
std::optional<ToneTarget> tone_target(const ToneRecord& tone, const Tuning& tuning);

// Each measured tone of `result` with the note it is judged against, for
// best_reference: those within half an octave of their targets. A tone
// further from the note expected of it has taken a wrong octave, which
// says nothing of the tuning; a reference far from the one assumed (A4 at
// 415 Hz measured against 440) moves every tone by less.
inline constexpr double reference_reach_cents = 600.0;
void add_judged_tones(const RecordingResult& result, const Tuning& tuning,
                      std::vector<JudgedTone>& tones);

// The octave guard, in the robust and partials modes: each measured tone
// with an expected note whose frequency lies an octave, a twelfth or two
// octaves from its target is analysed again with the guard checking each
// pass (reading `source` again, which must be able to seek); the tone takes
// the new analysis when it lies nearer the target. Its octave record says
// what was found either way. Returns why the recording could not be read
// again, or empty.
std::string guard_octaves(RecordingResult& result, const Tuning& tuning, SampleSource& source,
                          const AnalysisOptions& options);

// Whether the octave guard checks the tone: it has an expected note, was
// measured, and lies an octave, a twelfth or two octaves from the target.
bool needs_octave_guard(const ToneRecord& tone, const Tuning& tuning);

// What the octave guard's evidence is called in results: "spectrum",
// "period", "spectrum and period", "none", "unresolved".
const char* octave_evidence_name(OctaveEvidence evidence);

// Whether the options allow the octave guard.
inline bool guards_octaves(const AnalysisOptions& options) {
  return options.robust.any() || options.partials;
}

}  // namespace toneprint
