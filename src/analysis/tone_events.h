#pragma once

// What the tone loop finds, reported as it finds it. Front-ends turn these
// events into console lines, report lines, rows or documents; the analysis
// itself writes no text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "analysis/partial_results.h"

namespace toneprint {

// A tone's sums over its measured passes.
struct ToneTotals {
  double frequency_sum = 0.0;              // Hz
  std::uint32_t pass_count = 0;            // measured passes
  double max_fundamental_amplitude = 0.0;  // 0.0 unless some pass exceeded it
  // Per harmonic index k (frequency (k + 1) f0): the sum of its amplitudes
  // over the passes that measured it, and how many they were. A pitch that
  // moves near the Nyquist limit can put a harmonic above it in some passes
  // only, so the count can be anything from 0 to pass_count.
  std::vector<double> amplitude_sums;
  std::vector<std::uint32_t> measured_counts;

  // Clears the sums for a new tone, with one entry per harmonic index.
  void reset(std::uint32_t harmonic_count);

  // Adds a measured pass: its fundamental and its amplitudes, one per
  // harmonic index (-1.0 above the Nyquist limit, which adds nothing).
  void add_pass(double f0, std::span<const double> amplitudes);

  // The mean amplitude of harmonic index k over the passes that measured
  // it; none when none did.
  std::optional<double> mean_amplitude(std::size_t k) const;
};

// Why a pass gave no fundamental.
enum class PassFailure { no_peaks, detection_error, vote_rejected };

// What the robust mode's check made of a pass's voted fundamental.
enum class VoteOutcome {
  kept,                     // the vote stands
  replaced_by_period,       // by the bin at the time-domain estimate, refined
  replaced_by_lowest_peak,  // by the lowest spectral peak, refined
  rejected,                 // nothing replaced it: the pass has no fundamental
};

// What the octave guard made of a pass whose fundamental lay an octave, a
// twelfth or two octaves from the pitch expected of it.
enum class OctaveEvidence {
  spectrum,         // taken: the expected pitch's harmonics carry the energy
  period,           // taken: the waveform repeats at the expected pitch
  spectrum_and_period,
  none,             // kept: neither shows the expected pitch
  unresolved,       // kept: the spectrum is too coarse to tell them apart
};
struct OctaveCheck {
  double measured = 0.0;  // Hz, the fundamental found
  double expected = 0.0;  // Hz, the pitch expected
  // Hz, the pass's fundamental from here on: the found one, or the multiple
  // of it at the expected pitch when that was taken.
  double frequency = 0.0;
  bool taken = false;
  OctaveEvidence evidence = OctaveEvidence::none;
};

class ToneListener {
 public:
  virtual ~ToneListener() = default;

  // A tone starts at sample `start`, the first loud one; its attack has
  // been skipped. (A tone that the recording cuts off in its attack is
  // never started.)
  virtual void tone_started(std::uint64_t start) = 0;

  // A pass whose pitch block starts at sample `first` found the
  // fundamental f0; its harmonics are measured next. The pass is dropped,
  // with no further event, when the tone ends before its frame is full.
  virtual void pass_started(std::uint64_t first, double f0) = 0;

  // The pass's amplitudes, one per harmonic index (-1.0 above the Nyquist
  // limit), in sample units.
  virtual void pass_measured(std::uint64_t first, double f0,
                             std::span<const double> amplitudes) = 0;

  // The pass's pitch block gave no fundamental, for the reason `failure`.
  virtual void pass_failed(std::uint64_t first, PassFailure failure) = 0;

  // The robust mode checked the vote of the pass at `first`; a pass it
  // replaced goes on with the new fundamental, one it rejected fails.
  virtual void pass_vote_checked(std::uint64_t /*first*/, double /*voted*/,
                                 VoteOutcome /*outcome*/) {}

  // The octave guard checked the fundamental of the pass at `first`; the
  // pass goes on with the expected pitch when it was taken.
  virtual void pass_octave_checked(std::uint64_t /*first*/, const OctaveCheck& /*check*/) {}

  // The robust mode analyses a tone too short for one pass again, from
  // `attack_end` (after a shorter attack skip) to `until` (into its tail).
  virtual void tone_span(std::uint64_t /*attack_end*/, std::uint64_t /*until*/) {}

  // The robust mode measures a tone too short for one pass of the frame
  // set with a pitch FFT of `fft_size` (hop `fft_hop`) and frames of at
  // least `frame_seconds`.
  virtual void tone_frame(std::uint32_t /*fft_size*/, std::uint32_t /*fft_hop*/,
                          double /*frame_seconds*/) {}

  // The partials analysis of the pass at `first`, after its pass_measured;
  // none when the pass was too short for it or its pitch could not be
  // followed.
  virtual void pass_partials(std::uint64_t /*first*/, std::optional<PassPartials>&& /*partials*/) {}

  // The tone ends at sample `end`: where its closing silence begins, or the
  // recording's end.
  virtual void tone_ended(std::uint64_t end, const ToneTotals& totals) = 0;
};

}  // namespace toneprint
