#pragma once

// Amplitude of the fundamental and of each harmonic of a measured pitch:
// one Hann-windowed DFT sum at exactly each harmonic's frequency, over a
// frame of whole cycles of it (docs/design.md, "Harmonic measurement").
// Harmonic index k stands for (k + 1) x f0; one above the Nyquist limit
// (sample_rate / 2, an integer) gets -1.0. Nothing here fails: impossible
// lengths are 0 or saturate at the largest u32, no samples give 0.0.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "analysis/analysis_settings.h"
#include "analysis/evaluation.h"
#include "analysis/harmonic_kernels.h"

namespace toneprint {

// x rounded to the nearest whole number, halves away from zero: floor(x + 0.5)
// above 0, ceil(x - 0.5) below 0, x itself otherwise (0, -0 and NaN).
double round_half_away(double x);

// Distance of a cycle count x >= 0 from the nearest whole number, at most
// 0.5: the fractional part b of x, or 1 - b when that is smaller.
double cycle_fraction_error(double x);

// Samples in a frame that holds a whole number of cycles of frequency f (Hz)
// at sample_rate, to within max_cycle_fraction of a cycle, or the closest
// candidate; the search is described in docs/design.md. 0 when f is not a
// frequency below the Nyquist limit or sample_rate is 0; the search always
// ends.
std::uint32_t whole_cycle_frame_length(double f, std::uint32_t sample_rate, double min_seconds,
                                       double max_cycle_fraction, std::uint32_t min_cycles,
                                       std::uint32_t max_extra_samples);

// Frame length for frequency f with the record's limits; the extension is
// trunc(sample_rate × max_extra_seconds) samples, the product taken in double.
std::uint32_t harmonic_frame_length(double f, const AnalysisSettings& settings);

// Samples that a pass needs for fundamental f0: the longest of the frame
// lengths of f0, 2 × f0, ... (harmonic_count + 1) × f0. Harmonics above the
// Nyquist limit need none; 0 when none can be measured.
std::uint32_t dft_frame_length(double f0, const AnalysisSettings& settings);

// The reference measurement: the amplitudes of f0's harmonic indices
// 0 .. harmonic_count in `frame` (raw sample units), each over its
// harmonic_frame_length cut to the frame, written to as many values as
// `amplitudes` holds. A fundamental that is not a positive frequency gives
// 0.0, +infinity -1.0.
void measure_harmonics(std::span<const double> frame, std::span<double> amplitudes, double f0,
                       const AnalysisSettings& settings);

// One Hann-windowed DFT sum at an arbitrary frequency over the first
// `length` samples (not owned; null or no samples give 0.0), cached until
// the frequency or length changes or invalidate() is called (changing the
// samples does not invalidate it). The formula is in docs/design.md.
class SingleFrequencyDft {
 public:
  SingleFrequencyDft(std::uint32_t sample_rate, const double* samples)
      : samples_(samples), sample_rate_(sample_rate) {}

  // Sets the analysis frequency (Hz) and the number of samples summed. The
  // same values as before (exactly equal) keep a valid cache valid.
  void set_frequency(double frequency, std::int32_t length);

  void invalidate() { cache_valid_ = false; }

  // Half the peak amplitude of the component at the analysis frequency;
  // computed only when the cache is invalid.
  double magnitude();

  // The component's peak amplitude: 2 × magnitude().
  double amplitude() { return 2.0 * magnitude(); }

  double frequency() const { return frequency_; }
  std::int32_t length() const { return length_; }
  bool cache_valid() const { return cache_valid_; }

 private:
  void compute();

  double frequency_ = 0.0;         // analysis frequency, Hz
  std::int32_t length_ = 0;        // samples summed from the start of samples_
  const double* samples_;          // the frame; not owned; may be null
  std::uint32_t sample_rate_;      // samples per second
  double cached_magnitude_ = 0.0;  // result of the last computation
  bool cache_valid_ = false;       // cached_magnitude_ fits frequency_ and length_
};

class HarmonicWorker;

// measure_harmonics over a frame that arrives a few samples at a time, so
// that a frame's length (large near 0 Hz) never decides a pass's memory.
// start() begins a frame and keeps the storage.
class HarmonicAccumulator {
 public:
  explicit HarmonicAccumulator(Evaluation evaluation = Evaluation::fast);
  HarmonicAccumulator(double f0, const AnalysisSettings& settings,
                      Evaluation evaluation = Evaluation::fast);
  ~HarmonicAccumulator();
  HarmonicAccumulator(const HarmonicAccumulator&) = delete;
  HarmonicAccumulator& operator=(const HarmonicAccumulator&) = delete;

  // Keeps the measurement on the calling thread, for a caller that runs
  // several analyses at once; otherwise a second processor, where there is
  // one, takes half of the harmonics of a long run (with the same results).
  void use_one_thread() { one_thread_ = true; }

  // Begins the frame of fundamental f0; the last frame's sums are dropped.
  void start(double f0, const AnalysisSettings& settings);

  // Samples the frame needs: dft_frame_length(f0).
  std::uint32_t length() const { return length_; }

  // The next samples of the frame; samples past length() are ignored.
  void add(double sample);
  void add(std::span<const double> samples);

  // Once length() samples have arrived, the amplitudes of harmonic indices
  // 0 .. harmonic_count, -1.0 above the Nyquist limit, as measure_harmonics
  // gives them. Writes no more values than `amplitudes` holds.
  void amplitudes(std::span<double> amplitudes);

 private:
  // Samples are gathered into runs of this many before they are measured.
  static constexpr std::size_t run_length = 65536;
  // Terms in a run (samples times harmonics) from which a second processor
  // takes half of them: a sixth of a millisecond of the fast kernel's work.
  static constexpr std::int64_t shared_run_terms = std::int64_t{1} << 19;

  struct Harmonic {
    double frequency = 0.0;          // (k + 1) × f0
    std::uint32_t frame_length = 0;  // harmonic_frame_length(frequency)
    bool measured = false;           // at or below the Nyquist limit
    std::int32_t length = 0;         // samples summed
    // The angles per sample (omega, and delta, the Hann window's step), and
    // for the fast way their phasors' steps.
    detail::HarmonicPhasors phasors;
    double sine_sums[detail::harmonic_lanes] = {};  // partial sums, one per kernel lane
    double cosine_sums[detail::harmonic_lanes] = {};
  };

  // Measures the gathered run of samples.
  void measure_run();
  // Adds the run to the sums of the harmonics first, first + step, ...
  void measure_run_for(std::size_t first, std::size_t step);

  Evaluation evaluation_;
  std::vector<Harmonic> harmonics_;
  std::vector<double> run_;  // samples gathered, not measured yet
  std::uint32_t length_ = 0;
  std::int64_t next_ = 0;                   // index of the next sample
  std::int64_t run_first_ = 0;              // index of run_[0]
  std::unique_ptr<HarmonicWorker> worker_;  // the second thread, if any
  bool one_thread_ = false;
};

}  // namespace toneprint
