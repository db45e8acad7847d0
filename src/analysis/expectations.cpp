#include "analysis/expectations.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "analysis/tone_analysis.h"

namespace toneprint {
namespace {

// How far a tone may lie from a multiple (2, 3, 4) or a fraction (1/2,
// 1/3, 1/4) of its target for the octave guard to check it, in cents.
constexpr double guard_reach_cents = 100.0;

// Whether `frequency` lies an octave, a twelfth or two octaves (up or down)
// from `target`.
bool octaves_apart(double frequency, double target) {
  static constexpr std::array<double, 3> multiples = {2.0, 3.0, 4.0};
  const double octaves = std::fabs(std::log2(frequency / target));
  return std::any_of(multiples.begin(), multiples.end(), [&](double multiple) {
    return std::fabs(octaves - std::log2(multiple)) * 1200.0 <= guard_reach_cents;
  });
}

}  // namespace

std::string expect_notes(RecordingResult& result, const Expectation& expectation,
                         std::size_t& next) {
  std::optional<MidiNote> note;
  switch (expectation.kind) {
    case ExpectationKind::none:
      return {};
    case ExpectationKind::list:
      for (ToneRecord& tone : result.tones) {
        if (next < expectation.notes.size()) {
          tone.expected = expectation.notes[next];
          ++next;
        }
      }
      return {};
    case ExpectationKind::file_name: {
      const NoteInName found = note_in_file_name(result.path);
      if (!found.midi) return found.error;
      note = MidiNote{*found.midi, 0.0};
      break;
    }
    case ExpectationKind::sampler:
      if (!result.format.unity_note) {
        return result.path + ": no sampler (smpl) chunk with a unity note";
      }
      note = result.format.unity_note;
      break;
  }
  for (ToneRecord& tone : result.tones) tone.expected = note;
  return {};
}

std::optional<ToneTarget> tone_target(const ToneRecord& tone, const Tuning& tuning) {
  ToneTarget target;
  if (tone.expected) {
    target.note = *tone.expected;
    target.expected = true;
    target.hz = target_hz(tuning, target.note);
  } else if (tone.measured()) {
    const TargetNote nearest = nearest_target(tuning, tone.frequency());
    target.note = MidiNote{nearest.midi, 0.0};
    target.hz = nearest.hz;
  } else {
    return std::nullopt;
  }
  if (tone.measured()) target.deviation_cents = cents_from(tone.frequency(), target.hz);
  return target;
}

void add_judged_tones(const RecordingResult& result, const Tuning& tuning,
                      std::vector<JudgedTone>& tones) {
  for (const ToneRecord& tone : result.tones) {
    // A tone not measured has no deviation.
    const std::optional<ToneTarget> target = tone_target(tone, tuning);
    if (target && target->deviation_cents &&
        std::fabs(*target->deviation_cents) <= reference_reach_cents) {
      tones.push_back({tone.frequency(), target->note});
    }
  }
}

const char* octave_evidence_name(OctaveEvidence evidence) {
  switch (evidence) {
    case OctaveEvidence::spectrum: return "spectrum";
    case OctaveEvidence::period: return "period";
    case OctaveEvidence::spectrum_and_period: return "spectrum and period";
    case OctaveEvidence::none: return "none";
    case OctaveEvidence::unresolved: return "unresolved";
  }
  return "none";
}

bool needs_octave_guard(const ToneRecord& tone, const Tuning& tuning) {
  return tone.expected && tone.measured() &&
         octaves_apart(tone.frequency(), target_hz(tuning, *tone.expected));
}

std::string guard_octaves(RecordingResult& result, const Tuning& tuning, SampleSource& source,
                          const AnalysisOptions& options) {
  if (!guards_octaves(options)) return {};
  ToneLoopModes modes{options.robust, result.noise_floor, options.partials};
  for (std::size_t i = 0; i < result.tones.size(); ++i) {
    ToneRecord& tone = result.tones[i];
    if (!needs_octave_guard(tone, tuning)) continue;
    const double target = target_hz(tuning, *tone.expected);
    const double found = tone.frequency();

    // The tone again, as the tone loop (or the legato split, for a note
    // joined to the one before it) analysed it, with the guard on.
    AnalysisSettings settings = result.settings;
    const bool joined = tone.split_from && i > 0 && result.tones[i - 1].split_from &&
                        result.tones[i - 1].end == tone.start;
    if (joined) {
      settings.attack_seconds = std::min(settings.attack_seconds, shortest_attack_seconds);
    }
    modes.expected_hz = target;
    ToneCollector collector(options.robust.consensus, settings.sample_rate);
    std::string error = analyse_span(source, tone.start, tone.end, settings, modes, collector,
                                     options.evaluation, options.one_thread);
    if (!error.empty()) return error;
    if (collector.tones().empty()) continue;
    ToneRecord& again = collector.tones().front();

    // Taken when the passes that took the expected pitch make the tone lie
    // nearer its target; the evidence is what most of them (or, when none
    // did, of the passes checked) gave.
    const bool nearer = again.measured() && std::fabs(cents_from(again.frequency(), target)) <
                                                std::fabs(cents_from(found, target));
    std::array<std::size_t, 5> counts{};
    for (const MeasuredPass& pass : again.passes) {
      if (pass.octave && pass.octave->taken == nearer) {
        ++counts[static_cast<std::size_t>(pass.octave->evidence)];
      }
    }
    OctaveCheck check{found, target, found, nearer, OctaveEvidence::none};
    const auto most = std::max_element(counts.begin(), counts.end());
    if (*most > 0) check.evidence = static_cast<OctaveEvidence>(most - counts.begin());
    if (nearer) {
      check.frequency = again.frequency();
      tone.totals = again.totals;
      tone.passes = std::move(again.passes);
      tone.failures = std::move(again.failures);
      tone.partials = std::move(again.partials);
    }
    tone.octave_check = check;
  }
  return {};
}

}  // namespace toneprint
