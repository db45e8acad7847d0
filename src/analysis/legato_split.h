#pragma once

// Notes played legato, one starting where the last stops, leave no silence
// between them, so the tone loop gives them as one tone with passes at
// several pitches. The robust mode follows such a tone's pitch closely,
// finds where it moves from one held note to the next and analyses each
// note as a tone of its own.

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analysis_settings.h"
#include "analysis/evaluation.h"
#include "analysis/sample_source.h"
#include "analysis/tone_analysis.h"
#include "analysis/tone_results.h"

namespace toneprint {

// The pitch is followed in steps of this many seconds.
inline constexpr double legato_step_seconds = 0.05;
// A change of note is looked for by comparing the pitch over this many
// seconds before a point with that after it: long enough to average a
// vibrato's cycle away.
inline constexpr double legato_window_seconds = 0.25;

// Whether a tone's measured passes lie more than agreement_cents apart:
// only such a tone may hold several notes.
bool passes_disagree(const ToneRecord& tone);

// Where the pitch of the samples [from, until) of `source` (which must be
// able to seek) moves from one held note to another more than
// agreement_cents away: the first sample of each note after the first,
// rising. Each note holds long enough for its own attack skip of
// shortest_attack_seconds and a pass. Empty for a steady tone, a vibrato, or
// a note that strays too briefly to be a note; empty too, with the reason in
// `error`, when the source could not be read.
std::vector<std::uint64_t> legato_changes(SampleSource& source, std::uint64_t from,
                                          std::uint64_t until, const AnalysisSettings& settings,
                                          Evaluation evaluation, std::string& error);

// Replaces each tone of `tones` whose measured passes lie more than
// agreement_cents apart and whose pitch holds at notes in turn with a tone
// per note, each analysed over its own samples (with `modes`; each note
// after the first with an attack skip of at most shortest_attack_seconds)
// and marked with the number of the tone it was split from. Returns why the
// source could not be read again, or empty; the tones not reached then
// stay as they were.
std::string split_legato(SampleSource& source, const AnalysisSettings& settings,
                         const ToneLoopModes& modes, bool consensus,
                         std::vector<ToneRecord>& tones, Evaluation evaluation = Evaluation::fast,
                         bool one_thread = false);

}  // namespace toneprint
