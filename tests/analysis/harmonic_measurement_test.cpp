#include "analysis/harmonic_measurement.h"

#include <numeric>

#include "analysis/harmonic_kernels.h"
#include "support/test_support.h"

using namespace toneprint;

constexpr std::uint32_t u32_max = 0xFFFFFFFF;

static AnalysisSettings defaults(std::uint32_t rate, std::uint32_t harmonics = 10) {
  AnalysisSettings settings;
  set_default_settings(settings, rate);
  settings.harmonic_count = harmonics;
  return settings;
}

// Falling levels with scattered phases, like a bright string tone.
constexpr double levels[] = {8000, 4000, 2500, 1800, 1200, 900, 700, 500, 400, 300, 250};
static test::ToneRecipe bright(double f0) {
  test::ToneRecipe recipe{f0, {}};
  for (int k = 0; k < 11; ++k) recipe.partials.push_back({k + 1, levels[k], 1.1 * k * k});
  return recipe;
}

static std::vector<double> measure(std::span<const double> frame, double f0,
                                   const AnalysisSettings& s) {
  std::vector<double> amplitudes(s.harmonic_count + 1);
  measure_harmonics(frame, amplitudes, f0, s);
  return amplitudes;
}

// Worked by hand. The default limits are 0.3 s, 0.01 cycle, 5 cycles and
// 0.04 s (1764 samples at 44100).
// 4301 Hz at 44100: 10.25343 samples a cycle, 0.3 s = 1290.3 cycles, so
// 1291 = 13237.18 -> 13237 (0.0173 off), 1292 -> 13247 (0.0420 off),
// 1293 -> 13258 (0.0308 off), 1294 = 13267.94 -> 13268 (0.0061 off).
// 5120 Hz at 32768 is exact in binary: 6.4 samples a cycle. k cycles round
// to 6 (0.0625 off), 13 (0.03125), 19 (0.03125), 26 (0.0625), 32 (exact)
// for k = 1..5; r added cycles last 6.4 r samples. 0.0001 s starts at one
// cycle, 0.0003 s at two.
// name, f, rate, min_seconds, max_fraction, min_cycles, extra_samples, length
const std::tuple<const char*, double, std::uint32_t, double, double, std::uint32_t, std::uint32_t,
                 std::uint32_t>
    frame_cases[] = {
        {"A440_132CyclesIn13230", 440.0, 44100, 0.3, 0.01, 5, 1764, 13230},
        {"F4301_ThreeCyclesAdded", 4301.0, 44100, 0.3, 0.01, 5, 1764, 13268},
        {"F4301_NoExtraTriesOnlyTheFirst", 4301.0, 44100, 0.3, 0.01, 5, 0, 13237},
        {"Binary_StopsAtTheFirstWithinTolerance", 5120.0, 32768, 0.0001, 0.01, 1, 1000, 32},
        {"Binary_ToleranceIsInclusive", 5120.0, 32768, 0.0001, 0.0625, 1, 1000, 6},
        {"Binary_ExtraJustShortOfTheExactOne", 5120.0, 32768, 0.0001, 0.01, 1, 25, 13},
        {"Binary_ExtraReachesTheExactOne", 5120.0, 32768, 0.0001, 0.01, 1, 32, 32},
        {"Binary_EqualErrorsEarliestWins", 5120.0, 32768, 0.0003, 0.01, 1, 13, 13},
        {"Nyquist_EvenRateAtTheLimit", 22050.0, 44100, 0.3, 0.01, 5, 1764, 13230},
        {"Nyquist_EvenRateJustAbove", std::nextafter(22050.0, INFINITY), 44100, 0.3, 0.01, 5, 1764,
         0},
        // 44101: the limit is 22050, which folds to a 0.5 Hz reference: 10 s.
        {"Nyquist_OddRateAtTheLimit", 22050.0, 44101, 0.3, 0.01, 5, 1764, 441010},
        // 33 Hz below half the rate is sized by 33 Hz: 10 cycles = 13363.6.
        {"Gap_33HzBelowHalfTheRate", 22017.0, 44100, 0.3, 0.01, 5, 1764, 13364},
        {"Bass_1Point5HzNeedsFiveCycles", 1.5, 44100, 0.3, 0.01, 5, 1764, 147000},
        {"NotAFrequency_Zero", 0.0, 44100, 0.3, 0.01, 5, 1764, 0},
        {"NotAFrequency_NaN", NAN, 44100, 0.3, 0.01, 5, 1764, 0},
        {"NoSampleRate", 440.0, 0, 0.3, 0.01, 5, 1764, 0},
        {"Saturate_FiveCyclesOf10Microhertz", 1e-5, 44100, 0.3, 0.01, 5, 1764, u32_max},
        // No tolerance can be met: ~97000 exact candidates of 1 Hz; the first stays.
        {"Ends_NaNToleranceLongestExtra", 1.0, 44100, 0.3, NAN, 5, u32_max, 220500},
        {"Ends_NaNMinimumDuration", 440.0, 44100, NAN, 0.01, 5, 1764, 0},
        // Only min_cycles counts: 5 cycles of 440 Hz = 501.14 -> 501.
        {"Ends_NegativeMinimumDuration", 440.0, 44100, -1.0, 0.01, 5, 1764, 501},
};

TEST(WholeCycleFrame, HasTheWorkedOutLength) {
  for (const auto& [name, f, rate, min_seconds, fraction, cycles, extra, length] : frame_cases) {
    EXPECT_EQ(whole_cycle_frame_length(f, rate, min_seconds, fraction, cycles, extra), length)
        << name;
  }
}

TEST(WholeCycleFrame, SearchAtAnAbsurdSampleRateEndsSoon) {
  // A header's rate of 4e9 and a frequency just below a quarter of it drift
  // so slowly that no candidate meets the tolerance within 0.04 s of extra
  // samples, 4e7 candidates on. The search stops after a million.
  const auto start = std::chrono::steady_clock::now();
  const std::uint32_t length =
      whole_cycle_frame_length(999'999'999.9, 4'000'000'000u, 0.3, 0.01, 5, 160'000'000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_GE(length, 1'200'000'000u);
  EXPECT_LE(length, 1'204'000'000u);
}

TEST(FrameLengths, TakeTheirLimitsFromTheSettingsAndTheLongestHarmonic) {
  AnalysisSettings settings = defaults(44100, 2);
  // 11025 Hz: 3308 cycles of 4 samples, 13232; 22050: 13230; 33075: none.
  EXPECT_EQ(dft_frame_length(11025.0, settings), 13232u);
  // The extension is trunc(44100 x 0.3) = 13230 samples, not 13229 (the
  // exact product lies just below 13230): a cycle of 13229.3 samples then
  // fits a third time, 7.6e-6 off rather than 3.0e-5.
  settings.max_cycle_fraction = 1e-6;
  settings.min_cycles = 1;
  settings.max_extra_seconds = 0.3;
  EXPECT_EQ(harmonic_frame_length(44100.0 / 13229.3, settings), 39688u);
  // Halves round away from zero; 0.49999999999999994 + 0.5 is 1 already.
  EXPECT_EQ(round_half_away(-2.5), -3.0);
  EXPECT_EQ(round_half_away(0.49999999999999994), 1.0);
}

// Each harmonic's frame holds whole cycles of it; for most notes nearly
// whole cycles of the other partials too, which the window then removes. A1
// is the worst case: 0.3 s holds 16.5 cycles of 55 Hz, so each neighbour
// sits half a bin off the window's zeros, where it passes
// 1 / (pi 16.5 (16.5^2 - 1)) = 7.1e-5 of it: up to 0.019 % in all. A
// harmonic above half the rate is not measured, and reads -1. At 8000
// samples per second a frame is shorter than the runs the fast measurement
// takes; at 96000 it is several of them.
TEST(HarmonicAccumulator, MeasuresEveryHarmonicOfARecipeAsTheReferenceDoes) {
  const std::pair<double, double> notes[] = {{55.0, 2e-4},  {110.0, 1e-4},  {261.626, 1e-4},
                                             {440.0, 1e-4}, {1046.5, 1e-4}, {1760.0, 1e-4}};
  std::mt19937 random(11);
  std::uniform_real_distribution<double> noise(-0.5, 0.5);
  for (const std::uint32_t rate : {8000u, 22050u, 44100u, 48000u, 96000u}) {
    for (const auto& [f0, tolerance] : notes) {
      SCOPED_TRACE(std::to_string(rate) + " Hz, f0 " + std::to_string(f0));
      const AnalysisSettings settings = defaults(rate);
      HarmonicAccumulator reference(f0, settings, Evaluation::reference), fast(f0, settings);
      ASSERT_EQ(reference.length(), dft_frame_length(f0, settings));
      std::vector<double> frame = test::synthesise(bright(f0), rate, reference.length(), false);
      for (double& v : frame) v += noise(random);
      const std::size_t third = frame.size() / 3;
      for (HarmonicAccumulator* a : {&reference, &fast}) {
        a->add(std::span<const double>(frame).first(third));
        for (std::size_t i = third; i < frame.size(); ++i) a->add(frame[i]);
        a->add(1e6);  // past the frame: ignored
      }
      const std::vector<double> whole = measure(frame, f0, settings);
      std::vector<double> streamed(whole.size()), quick(whole.size());
      reference.amplitudes(streamed);
      fast.amplitudes(quick);
      EXPECT_EQ(streamed, whole) << "the same terms in the same order";
      for (std::size_t k = 0; k < whole.size(); ++k) {
        const double level = (k + 1) * f0 > rate / 2 ? -1.0 : levels[k];
        EXPECT_NEAR(whole[k], level, std::fabs(level) * tolerance) << "harmonic " << k;
        EXPECT_NEAR(quick[k], whole[k], std::fabs(level) * 1e-9) << "harmonic " << k;
      }
    }
  }
}

// A run with many terms (50 harmonics of a low note at 96000 samples per
// second: over a million) is shared with a second processor where there is
// one; each harmonic is still summed by one thread in one order, so the
// amplitudes are those of one thread to the last bit, and those of the
// reference to rounding.
TEST(HarmonicAccumulator, ALongRunSharedByTwoThreadsGivesTheOneThreadAmplitudes) {
  const AnalysisSettings settings = defaults(96000, 50);
  const double f0 = 65.4;
  HarmonicAccumulator shared(f0, settings), alone(f0, settings),
      reference(f0, settings, Evaluation::reference);
  alone.use_one_thread();
  std::vector<double> frame = test::synthesise(bright(f0), 96000, shared.length(), false);
  ASSERT_GT(frame.size() * 51, std::size_t{1} << 19);
  std::vector<double> a(51), b(51), c(51);
  for (auto [accumulator, out] : {std::pair{&shared, &a}, {&alone, &b}, {&reference, &c}}) {
    accumulator->add(frame);
    accumulator->amplitudes(*out);
  }
  EXPECT_EQ(a, b);
  for (std::size_t k = 0; k < a.size(); ++k) {
    EXPECT_NEAR(a[k], c[k], 1e-9 * levels[0]) << "harmonic " << k;
  }
}

TEST(MeasureHarmonics, AComponentOnTheLimitIsMeasuredAndOneAboveIsNot) {
  // 11025 Hz at 44100: 22050 Hz is on the limit and measured, 33075 Hz is
  // not. A component at the limit alternates, and is its own image:
  // (-1)^n 3000 reads as 2 x 3000.
  const AnalysisSettings even = defaults(44100, 2);
  std::vector<double> frame = test::synthesise({11025, {{1, 10000, 0.5}}}, 44100, 13232, false);
  for (std::size_t n = 0; n < frame.size(); ++n) frame[n] += n % 2 == 0 ? 3000.0 : -3000.0;
  std::vector<double> amplitudes = measure(frame, 11025.0, even), fast(3);
  EXPECT_NEAR(amplitudes[0], 10000, 1);
  EXPECT_NEAR(amplitudes[1], 6000, 0.6);
  EXPECT_EQ(amplitudes[2], -1.0);
  HarmonicAccumulator accumulator(11025.0, even);
  accumulator.add(frame);
  accumulator.amplitudes(fast);
  EXPECT_NEAR(fast[1], amplitudes[1], 1e-6) << "the accumulator measures the limit too";
}

TEST(MeasureHarmonics, StaysWithinTheFrameAndTheOutputAndNeedsAFrequency) {
  // 441 Hz asks for 13300 samples; this frame holds 10000, 100 whole cycles.
  const AnalysisSettings settings = defaults(44100);
  const std::vector<double> frame = test::synthesise(bright(441.0), 44100, 10000, false);
  std::vector<double> amplitudes(6, 12345.0);
  measure_harmonics(frame, std::span<double>(amplitudes).first(3), 441.0, settings);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_NEAR(amplitudes[k], levels[k], 0.5) << "harmonic " << k;
  }
  EXPECT_EQ(amplitudes[3], 12345.0) << "written past the output";
  EXPECT_EQ(measure({}, 441.0, settings)[0], 0.0) << "an empty frame";
  // +infinity lies above the limit; the others have no frame to measure.
  for (const double f0 : {0.0, -440.0, double{NAN}, -double{INFINITY}, double{INFINITY}}) {
    EXPECT_EQ(measure(frame, f0, settings), std::vector<double>(11, f0 == INFINITY ? -1.0 : 0.0))
        << f0;
  }
}

TEST(HarmonicAccumulator, FundamentalNearZeroSaturatesTheFrameWithoutHoldingIt) {
  for (const Evaluation evaluation : {Evaluation::reference, Evaluation::fast}) {
    HarmonicAccumulator stream(1e-7, defaults(44100), evaluation);  // 5 cycles: 5e7 s
    EXPECT_EQ(stream.length(), u32_max);
    for (int i = 0; i < 5000; ++i) stream.add(1000.0);
    std::vector<double> amplitudes(11, NAN);
    stream.amplitudes(amplitudes);
    for (const double a : amplitudes) EXPECT_TRUE(std::isfinite(a));
  }
}

// The steps e^(i j angle) of the plain preparer and of the fastest one
// (SLEEF's, where the processor has its vector kernels), against long
// double: each within a few ulps, and the rounding of its angle (up to 800
// radians) to a double.
TEST(HarmonicKernels, EveryPreparerFormsTheStepsOfBothAngles) {
  for (const detail::PhasorPreparer prepare :
       {detail::PhasorPreparer{detail::prepare_phasors}, detail::fastest_phasor_preparer()}) {
    for (const double omega : {0.0627, 1.9, 3.14159}) {
      const double delta = 6.283185307179586 / 13230;
      detail::HarmonicPhasors phasors;
      prepare(omega, delta, phasors);
      EXPECT_EQ(phasors.omega, omega);
      EXPECT_EQ(phasors.delta, delta);
      for (int j = 0; j < detail::phasor_block; ++j) {
        const long double tone = j * static_cast<long double>(omega);
        const long double window = j * static_cast<long double>(delta);
        const double bound = 1e-15 + 2.3e-16 * static_cast<double>(tone);
        EXPECT_NEAR(phasors.tone.cosine[j], std::cos(tone), bound) << omega << ", " << j;
        EXPECT_NEAR(phasors.tone.sine[j], std::sin(tone), bound) << omega << ", " << j;
        EXPECT_NEAR(phasors.window.cosine[j], std::cos(window), 1e-15) << j;
        EXPECT_NEAR(phasors.window.sine[j], std::sin(window), 1e-15) << j;
      }
    }
  }
}

TEST(HarmonicKernels, EveryKernelThisProcessorAddsTheWindowedTerms) {
  // Runs of every length up to a few vector widths, and across anchors and
  // batches of them, at a few places in a frame (a million samples in, an
  // angle of 62700 radians), so that the vector bodies, their heads and
  // tails are all exercised, against the terms summed here in long double:
  // sin and cos of n omega, times the sample, times (1 - cos(n delta)) / 2.
  const std::vector<detail::HarmonicKernel> kernels = detail::available_harmonic_kernels();
  RecordProperty("kernels", static_cast<int>(kernels.size()));
  constexpr double omega = 0.0627;
  constexpr double delta = 4.7e-4;
  detail::HarmonicPhasors phasors;
  detail::prepare_phasors(omega, delta, phasors);
  std::vector<std::int64_t> counts(41);
  std::iota(counts.begin(), counts.end(), 0);
  counts.insert(counts.end(), {63, 64, 65, 127, 1023, 1025, 1100});
  const std::vector<double> x = test::synthesise(bright(1234.5), 44100, 1100);
  for (std::size_t k = 0; k < kernels.size(); ++k) {
    for (const std::int64_t first : {0, 5, 60, 6600, 1000000}) {
      for (const std::int64_t count : counts) {
        double sines[detail::harmonic_lanes] = {}, cosines[detail::harmonic_lanes] = {};
        kernels[k](x.data(), first, count, phasors, sines, cosines);
        long double sine = 0, cosine = 0;
        for (std::int64_t i = 0; i < count; ++i) {
          const long double n = first + i;
          const long double h = (1 - std::cos(n * static_cast<long double>(delta))) / 2 * x[i];
          sine += std::sin(n * static_cast<long double>(omega)) * h;
          cosine += std::cos(n * static_cast<long double>(omega)) * h;
        }
        // Each term (at most 32768) is within a few ulps of its angle's;
        // the angle itself, rounded to a double, within 62700 × 2^-53.
        const auto sum = [](const double* lanes) {
          return std::accumulate(lanes, lanes + detail::harmonic_lanes, 0.0L);
        };
        EXPECT_NEAR(sum(sines) - sine, 0, 1e-8 * (count + 1))
            << k << ", " << first << ", " << count;
        EXPECT_NEAR(sum(cosines) - cosine, 0, 1e-8 * (count + 1)) << "cosines";
      }
    }
  }
}
