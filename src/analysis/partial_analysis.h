#pragma once

// The partials analysis: each partial of a pass measured at its own
// frequency, through vibrato and a stiff string's stretched partials.
//
// A pass is read in four steps (docs/design.md, "Partials"):
//  1. the fundamental's phase is followed along the pass, from short
//     Blackman-Harris frames every few milliseconds;
//  2. when that phase departs from a straight line (vibrato, a glide), the
//     pass is read again along it: resampled at equal steps of the
//     fundamental's phase, so that every partial becomes a steady
//     sinusoid; otherwise the pass is read as it is;
//  3. partial n is looked for in that signal's spectrum near where the
//     partials found so far put it (n sqrt((1 + B n²) / (1 + B))), then
//     measured at its own frequency with single-frequency sums, which also
//     refine the frequency; the noise is read between the partials;
//  4. B is fitted to the partials above the noise, weighted by level.
// Nothing here fails: a pass that cannot be read gives no result.

#include <complex>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "analysis/partial_results.h"
#include "dsp/fft_plan.h"
#include "dsp/windowed_sums.h"

namespace toneprint {

// Cycles of the fundamental that a pass needs: the pitch track's frames at
// either end, and enough cycles between them to tell neighbouring partials
// far apart.
inline constexpr double partials_min_cycles = 24.0;

// Where the fundamental is too weak to follow, the loudest of the partials
// up to this one is followed instead.
inline constexpr int max_followed_partial = 4;

// Samples a pass of fundamental f0 (Hz) needs at sample_rate; 0 when f0 is
// not a positive frequency.
std::uint64_t partials_frame_length(double f0, std::uint32_t sample_rate);

// A pass as it is read for its partials (partial_analysis.cpp).
struct PassReading;

// Reads passes one after another, keeping its FFT plan and storage.
class PartialsAnalyser {
 public:
  // Partials 1 to `count` of the pass whose samples are `frame` (its first
  // sample is sample `first` of the recording), whose fundamental lies
  // near f0 (Hz); none when the frame is too short for f0 or its phase
  // cannot be followed.
  std::optional<PassPartials> analyse(std::span<const double> frame, std::uint64_t first, double f0,
                                      std::uint32_t sample_rate, int count);

 private:
  // The spectrum of the signal (kept until the next), and its magnitude at
  // bin k, unpacked as far as asked for.
  void transform(const WindowedSignal& signal);
  double magnitude(std::size_t k);
  // The loudest bin from low to high, refined to the top of its parabola.
  double peak_top(std::size_t low, std::size_t high);
  // The partials of the pass as `reading` gives it in `signal`, whose
  // spectrum is the last transformed; `followed` is the partial whose
  // phase the reading followed.
  std::optional<PassPartials> measure(const WindowedSignal& signal, PassReading& reading,
                                      std::uint64_t first, double rate, int count, int followed);

  FftPlan plan_{0};
  std::vector<std::complex<double>> twiddles_;  // W^k for the plan's size
  std::vector<double> input_, re_, im_, magnitude_;
  std::uint32_t fft_size_ = 0;
  std::size_t unpacked_ = 0;
};

// The same with an analyser of its own.
std::optional<PassPartials> analyse_partials(std::span<const double> frame, std::uint64_t first,
                                             double f0, std::uint32_t sample_rate, int count);

// A tone's partials from its passes' (those the tone's means use); none
// when no pass gave any.
std::optional<TonePartials> summarise_partials(std::span<const PassPartials* const> passes,
                                               std::uint32_t sample_rate);

// The vibrato of a pitch track (Hz at samples, at sample_rate) around
// `centre` Hz: the sinusoid of 2 to 12 Hz that best fits its deviation in
// cents after a straight line is taken out, when it is at least 2 cents and
// explains at least half the deviation's variance; none otherwise. `centre`
// is moved to the vibrato's centre.
std::optional<Vibrato> fit_vibrato(std::span<const PitchPoint> track, std::uint32_t sample_rate,
                                   double& centre);

}  // namespace toneprint
