#pragma once

// The robust mode's changes to the analysis, each of which a user turns on
// by name. With all of them off the analysis is the default one, to the
// last digit.

#include <array>

namespace toneprint {

struct RobustSettings {
  // A tone too short for one pass is followed into its decaying tail: until
  // it falls tail_depth_db below the peak of its attack, never below twice
  // the recording's noise floor, and stopping 50 ms before the next onset.
  bool follow_tail = false;
  double tail_depth_db = 40.0;
  // A tone too short for the attack skip and one pass skips only enough of
  // its attack to leave room for one pass, and at least 50 ms.
  bool short_attack = false;
  // A tone still too short for one pass is measured with a smaller FFT
  // and a shorter frame, down to what the room after its attack allows.
  bool short_frames = false;
  // A pass's voted fundamental is checked against its spectrum and a
  // time-domain estimate, and replaced where they show it wrong.
  bool check_vote = false;
  // A tone's means use only the passes within 50 cents of the pass with the
  // most such neighbours.
  bool consensus = false;
  // The silence threshold is lowered (never raised) to relative_threshold_db
  // below the recording's loudest sample.
  bool relative_threshold = false;
  double relative_threshold_db = 19.0;
  // A tone whose pitch holds at two or more notes in turn (notes played
  // legato, without a silence between them) becomes a tone per note.
  bool split_legato = false;

  bool any() const {
    return follow_tail || short_attack || short_frames || check_vote || consensus ||
           relative_threshold || split_legato;
  }
  // Whether the tone loop itself changes (the others act before or after it).
  bool changes_tone_loop() const {
    return follow_tail || short_attack || short_frames || check_vote;
  }
};

// Each change as the front-ends name and describe it (an option --NAME, a
// keyword with '_' for '-').
struct RobustChange {
  const char* name;
  bool RobustSettings::*flag;
  const char* description;
};
inline constexpr std::array<RobustChange, 7> robust_changes = {{
    {"follow-tail", &RobustSettings::follow_tail,
     "Follow a tone too short for one pass into its decaying tail"},
    {"short-attack", &RobustSettings::short_attack,
     "Skip less of a short tone's attack, to leave room for one pass (at least 50 ms)"},
    {"short-frames", &RobustSettings::short_frames,
     "Measure a tone still too short for one pass with a smaller FFT and a shorter frame"},
    {"check-vote", &RobustSettings::check_vote,
     "Check each pass's fundamental against its spectrum and its period, and replace a wrong one"},
    {"consensus", &RobustSettings::consensus,
     "Average only the passes within 50 cents of the best-supported one"},
    {"relative-threshold", &RobustSettings::relative_threshold,
     "Lower the silence threshold to 19 dB below the recording's loudest sample"},
    {"split-legato", &RobustSettings::split_legato,
     "Split a tone whose pitch moves from note to note without a silence (legato) into a tone "
     "per note"},
}};

// Every change on: the robust mode.
inline RobustSettings all_robust_changes() {
  RobustSettings robust;
  for (const RobustChange& change : robust_changes) robust.*change.flag = true;
  return robust;
}

// The bounds of the followed tail's depth, in dB.
inline constexpr double min_tail_depth_db = 10.0;
inline constexpr double max_tail_depth_db = 80.0;

// The shortest stretch the robust mode gives an attack skip, in seconds.
inline constexpr double shortest_attack_seconds = 0.05;
// How far before the next tone's onset a followed tail stops, in seconds.
inline constexpr double tail_margin_seconds = 0.05;
// The shortest frame that a short tone is measured over, in seconds.
inline constexpr double shortest_frame_seconds = 0.05;
// How far a checked vote or a pass may lie from another to agree, in cents.
inline constexpr double agreement_cents = 50.0;

}  // namespace toneprint
