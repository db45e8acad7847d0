#include "analysis/harmonic_measurement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "analysis/harmonic_kernels.h"
#include "support/tone_recipe.h"

namespace toneprint {
namespace {

constexpr std::uint32_t u32_max = std::numeric_limits<std::uint32_t>::max();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr long double two_pi_l = 6.283185307179586476925286766559L;

AnalysisSettings defaults(std::uint32_t sample_rate) {
  AnalysisSettings settings;
  set_default_settings(settings, sample_rate);
  return settings;
}

struct Partial {
  double level;  // peak amplitude, raw sample units
  double phase;  // radians
};

// Σ level_k × sin(2π (k + 1) f0 n / rate + phase_k) over the partials at or
// below half the rate, unrounded.
std::vector<double> synthesise(std::uint32_t rate, double f0, const std::vector<Partial>& partials,
                               std::size_t count) {
  test::ToneRecipe recipe{f0, {}};
  for (std::size_t k = 0; k < partials.size(); ++k) {
    recipe.partials.push_back(
        {static_cast<int>(k + 1), partials[k].level, partials[k].phase - std::numbers::pi / 2});
  }
  return test::synthesise(recipe, rate, count, 0, test::Rounding::none);
}

double error_db(double measured, double expected) { return 20.0 * std::log10(measured / expected); }

// Within `percent` % of `expected`; a failure gives the error in dB.
testing::AssertionResult within_percent(double measured, double expected, double percent) {
  if (std::fabs(measured - expected) <= expected * percent / 100.0)
    return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << "measured " << measured << " for " << expected << ": " << error_db(measured, expected)
         << " dB off (allowed " << percent << " %)";
}

TEST(FrameRounding, HalvesAwayFromZeroAndDistanceToAWholeCycle) {
  EXPECT_EQ(round_half_away(0.5), 1.0);
  EXPECT_EQ(round_half_away(2.5), 3.0);
  EXPECT_EQ(round_half_away(-2.5), -3.0);
  EXPECT_EQ(round_half_away(2.4999), 2.0);
  EXPECT_EQ(round_half_away(-2.4999), -2.0);
  EXPECT_TRUE(std::signbit(round_half_away(-0.0)));
  // 0.5 is added before the floor, and 0.49999999999999994 + 0.5 rounds to 1.
  EXPECT_EQ(round_half_away(0.49999999999999994), 1.0);

  EXPECT_EQ(cycle_fraction_error(7.0), 0.0);
  EXPECT_EQ(cycle_fraction_error(132.25), 0.25);
  EXPECT_EQ(cycle_fraction_error(132.75), 0.25);
  EXPECT_EQ(cycle_fraction_error(0.5), 0.5);
  EXPECT_NEAR(cycle_fraction_error(3.9), 0.1, 1e-12);
}

// ------------------------------------------------------------ frame lengths

struct FrameCase {
  const char* name;
  double f;
  std::uint32_t rate;
  double min_seconds, max_fraction;
  std::uint32_t min_cycles, extra_samples;
  std::uint32_t expected;
};

void PrintTo(const FrameCase& c, std::ostream* out) { *out << c.name; }

// The default limits are 0.3 s, 0.01 cycle, 5 cycles and 0.04 s (1764
// samples at 44100).
//
// 4301 Hz at 44100: 10.25343 samples a cycle, 0.3 s = 1290.3 cycles, so
// 1291 = 13237.18 -> 13237 (0.0173 off), 1292 -> 13247 (0.0420 off),
// 1293 -> 13258 (0.0308 off), 1294 = 13267.94 -> 13268 (0.0061 off).
//
// 5120 Hz at 32768 is exact in binary: 6.4 samples a cycle. k cycles round
// to 6 (0.0625 off), 13 (0.03125), 19 (0.03125), 26 (0.0625), 32 (exact)
// for k = 1..5; r added cycles last 6.4 r samples. 0.0001 s starts at one
// cycle, 0.0003 s at two.
const FrameCase frame_cases[] = {
    {"A440_132CyclesIn13230", 440.0, 44100, 0.3, 0.01, 5, 1764, 13230},
    {"A440_ExactSoNeitherToleranceNorExtraMatter", 440.0, 44100, 0.3, 1e-9, 5, 0, 13230},
    {"A440_Rate48000", 440.0, 48000, 0.3, 0.01, 5, 1920, 14400},
    {"F4301_ThreeCyclesAdded", 4301.0, 44100, 0.3, 0.01, 5, 1764, 13268},
    {"F4301_NoExtraTriesOnlyTheFirst", 4301.0, 44100, 0.3, 0.01, 5, 0, 13237},
    {"F4301_HalfCycleToleranceTakesTheFirst", 4301.0, 44100, 0.3, 0.5, 5, 1764, 13237},
    {"Binary_StopsAtTheFirstWithinTolerance", 5120.0, 32768, 0.0001, 0.01, 1, 1000, 32},
    {"Binary_ToleranceIsInclusive", 5120.0, 32768, 0.0001, 0.0625, 1, 1000, 6},
    {"Binary_NoExtra", 5120.0, 32768, 0.0001, 0.01, 1, 0, 6},
    {"Binary_ExtraJustShortOfTheExactOne", 5120.0, 32768, 0.0001, 0.01, 1, 25, 13},
    {"Binary_ExtraReachesTheExactOne", 5120.0, 32768, 0.0001, 0.01, 1, 32, 32},
    {"Binary_EqualErrorsEarliestWins", 5120.0, 32768, 0.0003, 0.01, 1, 13, 13},
    {"Nyquist_EvenRateAtTheLimit", 22050.0, 44100, 0.3, 0.01, 5, 1764, 13230},
    {"Nyquist_EvenRateJustAbove", std::nextafter(22050.0, inf), 44100, 0.3, 0.01, 5, 1764, 0},
    // 44101: limit 22050, which folds to a 0.5 Hz reference: 5 cycles, 10 s.
    {"Nyquist_OddRateAtTheLimit", 22050.0, 44101, 0.3, 0.01, 5, 1764, 441010},
    {"Nyquist_OddRatePointThreeAbove", 22050.3, 44101, 0.3, 0.01, 5, 1764, 0},
    // 33 Hz below half the rate is sized by 33 Hz: 10 cycles = 13363.6.
    {"Gap_33HzBelowHalfTheRate", 22017.0, 44100, 0.3, 0.01, 5, 1764, 13364},
    {"Gap_100HzBelowHalfTheRate", 21950.0, 44100, 0.3, 0.01, 5, 1764, 13230},
    {"Bass_1Point5HzNeedsFiveCycles", 1.5, 44100, 0.3, 0.01, 5, 1764, 147000},
    {"NotAFrequency_Zero", 0.0, 44100, 0.3, 0.01, 5, 1764, 0},
    {"NotAFrequency_NaN", nan, 44100, 0.3, 0.01, 5, 1764, 0},
    {"NotAFrequency_Infinite", inf, 44100, 0.3, 0.01, 5, 1764, 0},
    {"NoSampleRate", 440.0, 0, 0.3, 0.01, 5, 1764, 0},
    {"Saturate_FiveCyclesOf10Microhertz", 1e-5, 44100, 0.3, 0.01, 5, 1764, u32_max},
    {"Saturate_InfinitelyLongCycle", 5e-324, 44100, 0.3, 0.01, 5, u32_max, u32_max},
    {"Saturate_HugeMinimumAtTheLimit", 22050.0, 44100, 1e9, 0.01, 5, 1764, u32_max},
    // No tolerance can be met: ~97000 exact candidates of 1 Hz; the first stays.
    {"Ends_NaNToleranceLongestExtra", 1.0, 44100, 0.3, nan, 5, u32_max, 220500},
    {"Ends_NaNMinimumDuration", 440.0, 44100, nan, 0.01, 5, 1764, 0},
    // Only min_cycles counts: 5 cycles of 440 Hz = 501.14 -> 501.
    {"Ends_NegativeMinimumDuration", 440.0, 44100, -1.0, 0.01, 5, 1764, 501},
};

class WholeCycleFrame : public testing::TestWithParam<FrameCase> {};

TEST_P(WholeCycleFrame, HasTheWorkedOutLength) {
  const FrameCase& c = GetParam();
  EXPECT_EQ(whole_cycle_frame_length(c.f, c.rate, c.min_seconds, c.max_fraction, c.min_cycles,
                                     c.extra_samples),
            c.expected)
      << c.f << " Hz at " << c.rate;
}

INSTANTIATE_TEST_SUITE_P(Worked, WholeCycleFrame, testing::ValuesIn(frame_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WholeCycleFrame, SearchAtAnAbsurdSampleRateEndsSoon) {
  // A header's sample rate of 4e9 with a frequency just below a quarter of
  // it: nearly 4 samples a cycle, drifting so slowly that no candidate comes
  // within the tolerance before 0.04 s of extra samples, 4e7 candidates on.
  // The search stops after a million and keeps the best it found.
  const auto start = std::chrono::steady_clock::now();
  const std::uint32_t length =
      whole_cycle_frame_length(999'999'999.9, 4'000'000'000u, 0.3, 0.01, 5, 160'000'000);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(length, 1'200'000'000u);
  EXPECT_LE(length, 1'200'000'000u + 4'000'000u);
  EXPECT_LT(seconds, 0.5);
}

TEST(HarmonicFrameLength, TakesItsLimitsFromTheSettings) {
  AnalysisSettings settings = defaults(44100);
  EXPECT_EQ(harmonic_frame_length(4301.0, settings), 13268u);
  EXPECT_EQ(harmonic_frame_length(22050.0, settings), 13230u);  // trunc(44100 × 0.3)
  // 44100 × 0.3 is just below 13230 exactly but 13230.0 as a double. A
  // cycle of 44100 / 13229.3 Hz lasts 13229.3 samples; 0.3 s holds 1.00005
  // cycles, so 2 (26458.6 -> 26459, 3.0e-5 off), then 3 (39687.9 -> 39688,
  // 7.6e-6 off) if one more cycle fits in the extension: in 13230, not 13229.
  settings.max_cycle_fraction = 1e-6;
  settings.min_cycles = 1;
  settings.max_extra_seconds = 0.3;
  EXPECT_EQ(harmonic_frame_length(44100.0 / 13229.3, settings), 39688u);
  EXPECT_EQ(whole_cycle_frame_length(44100.0 / 13229.3, 44100, 0.3, 1e-6, 1, 13229), 26459u);
}

TEST(DftFrameLength, IsTheLongestFrameOfTheMeasurableHarmonics) {
  AnalysisSettings settings = defaults(44100);
  settings.harmonic_count = 1;
  // 441 Hz: 133 cycles, 13300 samples; 882 Hz: 265 cycles of 50, 13250.
  EXPECT_EQ(dft_frame_length(441.0, settings), 13300u);
  // 11025 Hz: 3308 cycles of 4 samples, 13232; 22050 Hz: 13230; 33075 Hz: none.
  settings.harmonic_count = 2;
  EXPECT_EQ(dft_frame_length(11025.0, settings), 13232u);
  for (const double f0 : {22050.5, 0.0, -440.0, nan, inf}) {
    EXPECT_EQ(dft_frame_length(f0, settings), 0u) << f0 << " Hz";
  }
}

// ------------------------------------------------- the single-frequency DFT

TEST(SingleFrequencyDft, FourSamplesWorkedByHand) {
  // A quarter of the rate over 4 samples: the periodic Hann window is
  // {0, 0.5, 1, 0.5}; the sine sum is 1 × 0.5 + (-1) × (-1) × 0.5 = 1, the
  // cosine sum 0: magnitude 1 × 2 / 4 = 0.5, amplitude 1 (a window over
  // length - 1 would give 0.75).
  const double sine[] = {0.0, 1.0, 0.0, -1.0};
  SingleFrequencyDft dft(4, sine);
  dft.set_frequency(1.0, 4);
  EXPECT_NEAR(dft.magnitude(), 0.5, 1e-15);
  EXPECT_NEAR(dft.amplitude(), 1.0, 1e-15);
  // A constant at 0 Hz is its own image: cosine sum 2, amplitude 2.
  const double constant[] = {1.0, 1.0, 1.0, 1.0};
  SingleFrequencyDft dc(4, constant);
  dc.set_frequency(0.0, 4);
  EXPECT_EQ(dc.amplitude(), 2.0);
}

TEST(SingleFrequencyDft, MatchesASlowLongDoubleSumOnNoise) {
  std::mt19937 generator(20240611);
  std::uniform_real_distribution<double> sample(-32768.0, 32767.0);
  std::vector<double> x(20000);
  for (double& value : x) value = sample(generator);

  for (const int length : {1, 2, 3, 7, 1000, 4097, 20000}) {
    for (const double f : {0.0, 1.37, 440.0, 1234.567, 11025.0, 21999.9, 22050.0}) {
      long double sine = 0.0L, cosine = 0.0L;
      for (int n = 0; n < length; ++n) {
        const long double cycles = static_cast<long double>(f) * n / 44100;
        const long double angle = two_pi_l * (cycles - std::floor(cycles));
        const long double h = (1.0L - std::cos(two_pi_l * n / length)) / 2.0L;
        sine += std::sin(angle) * x[static_cast<std::size_t>(n)] * h;
        cosine += std::cos(angle) * x[static_cast<std::size_t>(n)] * h;
      }
      SingleFrequencyDft dft(44100, x.data());
      dft.set_frequency(f, length);
      // Magnitudes of this noise are some hundreds of sample units.
      EXPECT_NEAR(dft.magnitude(),
                  static_cast<double>(std::sqrt(sine * sine + cosine * cosine) * 2 / length), 1e-6)
          << length << " samples at " << f << " Hz";
    }
  }
}

TEST(SingleFrequencyDft, NoSamplesNoLengthOrNoRateGivesZero) {
  const std::vector<double> x(100, 1000.0);
  SingleFrequencyDft fresh(44100, x.data());
  EXPECT_EQ(fresh.frequency(), 0.0);
  EXPECT_EQ(fresh.length(), 0);
  EXPECT_FALSE(fresh.cache_valid());
  EXPECT_EQ(fresh.amplitude(), 0.0);
  for (const std::int32_t length : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
    SingleFrequencyDft dft(44100, x.data());
    dft.set_frequency(440.0, length);
    EXPECT_EQ(dft.amplitude(), 0.0) << "length " << length;
  }
  SingleFrequencyDft without_samples(44100, nullptr);
  without_samples.set_frequency(440.0, 100);
  EXPECT_EQ(without_samples.amplitude(), 0.0);
  SingleFrequencyDft without_rate(0, x.data());
  without_rate.set_frequency(440.0, 100);
  EXPECT_EQ(without_rate.amplitude(), 0.0);
}

TEST(SingleFrequencyDft, CacheLastsUntilFrequencyLengthOrInvalidateChanges) {
  // 100 cycles of 1000 Hz at 44100; doubling the samples behind the
  // evaluator's back shows whether it computed again.
  std::vector<double> x = synthesise(44100, 1000.0, {{1000.0, 0.3}}, 4410);
  const auto double_samples = [&x] {
    for (double& v : x) v *= 2.0;
  };
  SingleFrequencyDft dft(44100, x.data());

  dft.set_frequency(1000.0, 4410);
  const double first = dft.amplitude();
  EXPECT_TRUE(within_percent(first, 1000.0, 0.01));
  double_samples();
  dft.set_frequency(1000.0, 4410);
  EXPECT_TRUE(dft.cache_valid());
  EXPECT_EQ(dft.amplitude(), first) << "same frequency and length: cached";

  dft.set_frequency(std::nextafter(1000.0, 2000.0), 4410);
  EXPECT_FALSE(dft.cache_valid());
  EXPECT_TRUE(within_percent(dft.amplitude(), 2000.0, 0.01)) << "frequency changed";
  double_samples();
  dft.set_frequency(std::nextafter(1000.0, 2000.0), 3969);  // 90 cycles
  EXPECT_TRUE(within_percent(dft.amplitude(), 4000.0, 0.01)) << "length changed";
  double_samples();
  dft.invalidate();
  EXPECT_TRUE(within_percent(dft.magnitude(), 4000.0, 0.01)) << "invalidated: half of 8000";
}

// ------------------------------------------------------ measured amplitudes

TEST(MeasureHarmonics, FullScaleSineReadsItsPeak) {
  AnalysisSettings settings = defaults(44100);
  settings.harmonic_count = 0;
  for (const double f : {27.5, 440.0, 4301.0, 15000.0, 21000.0}) {
    std::vector<double> frame =
        synthesise(44100, f, {{32767.0, 1.0}}, dft_frame_length(f, settings));
    for (double& sample : frame) sample = std::round(sample);  // 16-bit samples
    double amplitude = 0.0;
    measure_harmonics(frame, {&amplitude, 1}, f, settings);
    EXPECT_TRUE(within_percent(amplitude, 32767.0, 0.01)) << f << " Hz";
  }
}

// Falling levels with scattered phases, like a bright string tone.
const std::vector<Partial> recipe = {
    {8000.0, 0.0}, {4000.0, 1.1}, {2500.0, 2.3}, {1800.0, -0.7}, {1200.0, 3.0}, {900.0, -2.2},
    {700.0, 0.4},  {500.0, 1.9},  {400.0, -1.5}, {300.0, 2.7},   {250.0, -0.1},
};

struct Note {
  const char* name;
  double frequency;
  double percent;  // allowed error
};

void PrintTo(const Note& note, std::ostream* out) { *out << note.name; }

// Each harmonic's frame holds whole cycles of that harmonic. For most notes
// it also holds whole (or nearly whole) cycles of the other partials, which
// the window then removes. A1 is the worst case: 0.3 s holds 16.5 cycles of
// 55 Hz, so each neighbour sits half a bin off the Hann window's zeros,
// where the window passes 1 / (π × 16.5 × (16.5² - 1)) = 7.1e-5 of it;
// summed over the recipe's neighbours that is up to 0.019 %.
const Note notes[] = {
    {"A1", 55.0, 0.02},  {"A2", 110.0, 0.01},    {"C4", 261.626, 0.01},
    {"A4", 440.0, 0.01}, {"C6", 1046.502, 0.01}, {"A6", 1760.0, 0.01},
};

class HarmonicRecipe : public testing::TestWithParam<std::tuple<std::uint32_t, Note>> {};

TEST_P(HarmonicRecipe, EveryHarmonicComesBackAtItsLevel) {
  const auto [rate, note] = GetParam();
  const AnalysisSettings settings = defaults(rate);
  ASSERT_EQ(settings.harmonic_count + 1, recipe.size());
  const std::vector<double> frame =
      synthesise(rate, note.frequency, recipe, dft_frame_length(note.frequency, settings));
  std::vector<double> amplitudes(recipe.size(), 0.0);
  measure_harmonics(frame, amplitudes, note.frequency, settings);

  double worst_db = 0.0;
  for (std::size_t k = 0; k < recipe.size(); ++k) {
    const double f = static_cast<double>(k + 1) * note.frequency;
    if (f > rate / 2) {
      EXPECT_EQ(amplitudes[k], -1.0) << "harmonic " << k << " at " << f << " Hz is above the limit";
      continue;
    }
    EXPECT_TRUE(within_percent(amplitudes[k], recipe[k].level, note.percent))
        << "harmonic " << k << " at " << f << " Hz";
    worst_db = std::max(worst_db, std::fabs(error_db(amplitudes[k], recipe[k].level)));
  }
  char worst[32];
  std::snprintf(worst, sizeof worst, "%.3g", worst_db);
  RecordProperty("worst_error_db", worst);
}

INSTANTIATE_TEST_SUITE_P(RatesAndNotes, HarmonicRecipe,
                         testing::Combine(testing::Values(22050u, 44100u, 48000u, 96000u),
                                          testing::ValuesIn(notes)),
                         [](const auto& info) {
                           return "Rate" + std::to_string(std::get<0>(info.param)) + "_" +
                                  std::get<1>(info.param).name;
                         });

TEST(MeasureHarmonics, NyquistLimitAtAnEvenAndAnOddRate) {
  // 11025 Hz at 44100: 22050 Hz is on the limit and measured, 33075 Hz is
  // not. The samples of a component at the limit alternate: (-1)^n × 3000
  // makes the cosine sum 3000 × length / 2, which reads as 2 × 3000, since
  // the component is its own image.
  AnalysisSettings even = defaults(44100);
  even.harmonic_count = 2;
  std::vector<double> frame =
      synthesise(44100, 11025.0, {{10000.0, 0.5}}, dft_frame_length(11025.0, even));
  for (std::size_t n = 0; n < frame.size(); ++n) frame[n] += n % 2 == 0 ? 3000.0 : -3000.0;
  std::vector<double> amplitudes(3, 0.0);
  measure_harmonics(frame, amplitudes, 11025.0, even);
  EXPECT_TRUE(within_percent(amplitudes[0], 10000.0, 0.01));
  EXPECT_TRUE(within_percent(amplitudes[1], 6000.0, 0.01));
  EXPECT_EQ(amplitudes[2], -1.0);

  // At 44101 the limit is 22050: measured over its 10 s frame; 0.3 Hz higher
  // it is not measured.
  AnalysisSettings odd = defaults(44101);
  odd.harmonic_count = 0;
  frame = synthesise(44101, 22050.0, {{12000.0, 0.8}}, dft_frame_length(22050.0, odd));
  double amplitude = 0.0;
  measure_harmonics(frame, {&amplitude, 1}, 22050.0, odd);
  EXPECT_TRUE(within_percent(amplitude, 12000.0, 0.01));
  measure_harmonics(frame, {&amplitude, 1}, 22050.3, odd);
  EXPECT_EQ(amplitude, -1.0);
}

TEST(MeasureHarmonics, StaysWithinTheFrameAndTheOutput) {
  // 441 Hz asks for 13300 samples; this frame holds 10000, 100 whole cycles,
  // in a vector of exactly that size for the address sanitizer.
  AnalysisSettings settings = defaults(44100);
  std::vector<double> frame = synthesise(44100, 441.0, recipe, 10000);
  constexpr double guard = 12345.678;
  std::vector<double> amplitudes(6, guard);
  measure_harmonics(frame, std::span<double>(amplitudes).first(3), 441.0, settings);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_TRUE(within_percent(amplitudes[k], recipe[k].level, 0.01)) << "harmonic " << k;
  }
  for (std::size_t k = 3; k < amplitudes.size(); ++k) {
    EXPECT_EQ(amplitudes[k], guard) << "element " << k << " lies past the output";
  }
  measure_harmonics({}, std::span<double>(amplitudes).first(1), 441.0, settings);
  EXPECT_EQ(amplitudes[0], 0.0) << "an empty frame";
}

TEST(MeasureHarmonics, FundamentalThatIsNotAFrequencyMeasuresNothing) {
  AnalysisSettings settings = defaults(44100);
  settings.harmonic_count = 2;
  const std::vector<double> frame(13230, 1000.0);
  for (const double f0 : {0.0, -440.0, nan, -inf, inf}) {
    std::vector<double> amplitudes(3, 7.0);
    measure_harmonics(frame, amplitudes, f0, settings);
    for (const double amplitude : amplitudes) {
      // +infinity lies above the limit; the others have no frame to measure.
      EXPECT_EQ(amplitude, f0 == inf ? -1.0 : 0.0) << "f0 = " << f0;
    }
  }
}

TEST(HarmonicAccumulator, MeasuresExactlyAsTheWholeFrameDoes) {
  // Fed one sample at a time, or in pieces, the sums must be the same terms
  // in the same order: equal to the last bit, harmonics above the limit
  // included.
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-200.0, 200.0);
  for (const std::uint32_t rate : {8000u, 44100u, 96000u}) {
    for (const double f0 : {55.0, 261.63, 1234.5, 3999.0}) {
      AnalysisSettings settings = defaults(rate);
      HarmonicAccumulator stream(f0, settings, Evaluation::reference);
      ASSERT_EQ(stream.length(), dft_frame_length(f0, settings));
      std::vector<double> frame = synthesise(rate, f0, recipe, stream.length());
      for (double& v : frame) v += noise(random);
      const std::size_t half = frame.size() / 2;
      stream.add(std::span<const double>(frame).first(half));
      for (std::size_t i = half; i < frame.size(); ++i) stream.add(frame[i]);
      stream.add(1e6);  // past the frame: ignored

      std::vector<double> whole(settings.harmonic_count + 1), streamed(whole.size());
      measure_harmonics(frame, whole, f0, settings);
      stream.amplitudes(streamed);
      for (std::size_t k = 0; k < whole.size(); ++k) {
        EXPECT_EQ(streamed[k], whole[k]) << rate << " Hz, f0 " << f0 << ", harmonic " << k;
      }
    }
  }
}

TEST(HarmonicAccumulator, FundamentalNearZeroSaturatesTheFrame) {
  // 1e-7 Hz asks for 5 cycles, 5e7 seconds: the length saturates, and the
  // samples that do arrive are measured without the frame being held.
  const AnalysisSettings settings = defaults(44100);
  for (const Evaluation evaluation : {Evaluation::reference, Evaluation::fast}) {
    HarmonicAccumulator stream(1e-7, settings, evaluation);
    EXPECT_EQ(stream.length(), u32_max);
    for (int i = 0; i < 5000; ++i) stream.add(1000.0);
    std::vector<double> amplitudes(settings.harmonic_count + 1, 7.0);
    stream.amplitudes(amplitudes);
    for (const double a : amplitudes) EXPECT_TRUE(std::isfinite(a));
  }
}

TEST(HarmonicAccumulator, FastEvaluationAgreesWithTheReference) {
  // Vector sine and cosine within 1 ulp and the terms in partial sums: the
  // amplitudes must stay within 1e-9 of the reference's, relatively, over a
  // grid of frequencies and frame lengths, noise included.
  std::mt19937 random(11);
  std::uniform_real_distribution<double> noise(-3000.0, 3000.0);
  double worst = 0.0;
  for (const std::uint32_t rate : {8000u, 22050u, 44100u, 48000u, 96000u}) {
    for (const double f0 : {27.5, 61.7, 220.0, 440.3, 1046.5, 3951.1}) {
      for (const double min_seconds : {0.05, 0.3, 1.0}) {
        AnalysisSettings settings = defaults(rate);
        settings.min_tone_seconds = min_seconds;
        HarmonicAccumulator reference(f0, settings, Evaluation::reference);
        HarmonicAccumulator fast(f0, settings, Evaluation::fast);
        std::vector<double> frame = synthesise(rate, f0, recipe, reference.length());
        for (double& v : frame) v += noise(random);
        reference.add(frame);
        fast.add(std::span<const double>(frame).first(frame.size() / 3));
        fast.add(std::span<const double>(frame).subspan(frame.size() / 3));
        std::vector<double> expected(settings.harmonic_count + 1), measured(expected.size());
        reference.amplitudes(expected);
        fast.amplitudes(measured);
        for (std::size_t k = 0; k < expected.size(); ++k) {
          if (expected[k] < 0) {
            EXPECT_EQ(measured[k], -1.0);
            continue;
          }
          const double relative = std::fabs(measured[k] - expected[k]) / expected[k];
          worst = std::max(worst, relative);
          EXPECT_LE(relative, 1e-9)
              << rate << " Hz, f0 " << f0 << ", " << min_seconds << " s, harmonic " << k;
        }
      }
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", worst);
  RecordProperty("worst_relative_difference", text);
}

TEST(HarmonicKernels, EveryKernelThisProcessorRunsAgreesWithThePlainOne) {
  // Runs of every length up to a few vector widths, at a few places in a
  // frame, so that the vector bodies and their tails are all exercised.
  const std::vector<detail::HarmonicKernel> kernels = detail::available_harmonic_kernels();
  RecordProperty("kernels", static_cast<int>(kernels.size()));
  std::mt19937 random(3);
  std::uniform_real_distribution<double> sample(-32768.0, 32767.0);
  std::vector<double> x(64);
  for (double& v : x) v = sample(random);
  for (std::size_t k = 1; k < kernels.size(); ++k) {
    for (const std::int64_t first : {0, 5, 6600}) {
      for (std::int64_t count = 0; count <= 40; ++count) {
        double plain_sine[detail::harmonic_lanes] = {}, plain_cosine[detail::harmonic_lanes] = {};
        double sine[detail::harmonic_lanes] = {}, cosine[detail::harmonic_lanes] = {};
        const double omega = 0.0627, delta = 6.283185307179586 / 13230;
        kernels[0](x.data(), first, count, omega, delta, plain_sine, plain_cosine);
        kernels[k](x.data(), first, count, omega, delta, sine, cosine);
        double s0 = 0, c0 = 0, s1 = 0, c1 = 0;
        for (int lane = 0; lane < detail::harmonic_lanes; ++lane) {
          s0 += plain_sine[lane];
          c0 += plain_cosine[lane];
          s1 += sine[lane];
          c1 += cosine[lane];
        }
        // Each term (at most 32768 in size) is within a few ulps of its
        // plain twin; the sums differ by less than 1e-8 per term.
        EXPECT_NEAR(s1, s0, 1e-8 * static_cast<double>(count + 1))
            << "kernel " << k << ", n from " << first << ", " << count;
        EXPECT_NEAR(c1, c0, 1e-8 * static_cast<double>(count + 1))
            << "kernel " << k << ", n from " << first << ", " << count;
      }
    }
  }
}

}  // namespace
}  // namespace toneprint
