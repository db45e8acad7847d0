#pragma once

// The tone loop: one pass through the recording from the read position to
// its end. It splits the recording into tones at stretches of silence, skips
// each tone's attack, cuts the rest into consecutive measurement passes,
// finds each pass's fundamental and measures its harmonics over a frame of
// whole cycles, and reports each tone and pass to a listener as it finds
// them.

#include <cstdint>
#include <string>

#include "analysis/analysis_settings.h"
#include "analysis/harmonic_measurement.h"
#include "analysis/robust_settings.h"
#include "analysis/tone_events.h"
#include "analysis/sample_source.h"

namespace toneprint {

// Analyses the source's samples from where it stands to its end; what it
// finds goes to `listener`. The harmonics are measured the fast way unless
// the straightforward reference is asked for, on a second processor too
// unless `one_thread` (for callers that run several analyses at once).
// Returns why the analysis stopped before the end, or empty: the source's
// read error, or that it could not go back in a source that cannot seek
// (then the tone it was in ends where it stopped, and no more follow).
std::string analyse_tones(SampleSource& source, const AnalysisSettings& settings,
                          ToneListener& listener, Evaluation evaluation = Evaluation::fast,
                          bool one_thread = false);

// The same with the robust mode's changes to the tone loop: a checked vote,
// and a tone too short for one pass followed into its tail and given a
// shorter attack skip (which needs a source that can seek). The recording's
// noise floor bounds the tail. With `partials`, each pass's frame is kept
// (and made long enough for it) for the partials analysis, whose result
// follows each pass_measured.
struct ToneLoopModes {
  RobustSettings settings;
  double noise_floor = 0.0;  // in sample units
  bool partials = false;
  // The pitch the tone is expected to sound, Hz, or 0: a pass's fundamental
  // found an octave, a twelfth or two octaves from it is checked against
  // it (the octave guard).
  double expected_hz = 0.0;
};
std::string analyse_tones(SampleSource& source, const AnalysisSettings& settings,
                          const ToneLoopModes& robust, ToneListener& listener,
                          Evaluation evaluation = Evaluation::fast, bool one_thread = false);

// Analyses the samples [from, until) of a source that can seek as one tone,
// whatever the silences in it: tone_started(from), the attack skip of
// settings.attack_seconds, the passes (and, with the robust settings, a
// retry as for a short tone), tone_ended(until), as the tone loop reports a
// tone. For a tone split or measured again with other settings. Returns why
// it could not: the source cannot seek, or could not be read.
std::string analyse_span(SampleSource& source, std::uint64_t from, std::uint64_t until,
                         const AnalysisSettings& settings, const ToneLoopModes& modes,
                         ToneListener& listener, Evaluation evaluation = Evaluation::fast,
                         bool one_thread = false);

}  // namespace toneprint
