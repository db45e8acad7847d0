#pragma once

// A second opinion on a pass's fundamental. The peak-spacing vote can land
// on the spacing between the split peaks of one partial (vibrato, chorus) or
// on half the fundamental (a partial at 1.5 f0); both give a bin with
// little energy or a frequency far below what the waveform repeats at. The
// check rejects such a vote and puts the phase-refined frequency of a bin
// with energy in its place.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "analysis/tone_events.h"

namespace toneprint {

struct CheckedVote {
  double frequency = 0.0;  // Hz; 0 when rejected
  VoteOutcome outcome = VoteOutcome::kept;
};

// The time-domain estimate of the period: the first dip of the cumulative-
// mean-normalised difference function below `threshold`, refined between
// lags, over a window of 25 ms (at most a third of the samples) and lags up
// to twice that (or to max_lag). In Hz; 0 when there is none.
double period_frequency(std::span<const double> samples, std::uint32_t sample_rate,
                        double threshold = 0.15, std::size_t max_lag = SIZE_MAX);

// The octave guard: when a pass's fundamental `measured` lies 2, 3 or 4
// times above or below `expected` (within a semitone), checks which of the
// two the pitch frame's spectrum `magnitudes` and its samples `frame`
// support; none when they are not so related. The expected pitch is taken,
// as that multiple of the measured one, when
// - above it: its harmonics carry at least as much energy as the measured
//   pitch's other harmonics, and it has energy of its own (an organ's
//   sub-octave rank makes the lower pitch present but not the note);
// - below it: the harmonics that only it has carry energy within 30 dB of
//   the others (a weak fundamental and its odd partials);
// - either way: the waveform's period is the expected pitch's.
std::optional<OctaveCheck> guard_octave(std::span<const double> frame,
                                        std::span<const double> magnitudes,
                                        std::uint32_t fft_size, std::uint32_t sample_rate,
                                        double measured, double expected);

class VoteChecker {
 public:
  // `block` is the pass's pitch block (fft_size + fft_hop samples),
  // `magnitudes` its first frame's spectrum and `voted` the frequency the
  // vote gave.
  CheckedVote check(std::span<const double> block, std::span<const double> magnitudes,
                    std::uint32_t fft_size, std::uint32_t fft_hop, std::uint32_t sample_rate,
                    std::uint32_t peak_threshold, std::uint32_t peak_count, double voted);

 private:
  // The windowed transform of the frame that starts `from` samples into
  // the block: the first (from 0) or the second.
  void transform(std::span<const double> block, std::uint32_t from, std::uint32_t fft_size);
  // The refined frequency of `bin`, from its phase advance between frames.
  double refined(std::uint32_t bin, std::uint32_t fft_hop, std::uint32_t fft_size,
                 std::uint32_t sample_rate) const;

  std::vector<double> frame_, real_[2], imaginary_[2];
};

}  // namespace toneprint
