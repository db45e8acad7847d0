#include "analysis/pitch_detection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "support/tone_recipe.h"

namespace toneprint {
namespace {

using test::Partial;
using test::ToneRecipe;

constexpr std::uint32_t default_hop = 1024;
constexpr std::uint32_t default_threshold = 40;
constexpr std::uint32_t default_peaks = 5;

PitchEstimate detect(const std::vector<double>& block, std::uint32_t fft_size,
                     std::uint32_t sample_rate, std::uint32_t hop = default_hop) {
  return detect_pitch(block, fft_size, hop, sample_rate, default_threshold, default_peaks);
}

PitchEstimate detect(const ToneRecipe& recipe, std::uint32_t fft_size, std::uint32_t sample_rate,
                     std::uint32_t hop = default_hop) {
  return detect(test::synthesise(recipe, sample_rate, fft_size + hop), fft_size, sample_rate, hop);
}

ToneRecipe pure(double frequency) { return {frequency, {{1, 16000.0, 0.3}}}; }

// Six harmonics at falling levels and assorted phases.
ToneRecipe harmonic(double frequency) {
  return {frequency,
          {{1, 12000, 0.1},
           {2, 6000, 2.0},
           {3, 4000, -1.0},
           {4, 3000, 0.5},
           {5, 2400, 3.0},
           {6, 2000, -2.5}}};
}

struct PitchCase {
  std::string name;
  std::uint32_t sample_rate;
  std::uint32_t fft_size;
  double frequency;
};

void PrintTo(const PitchCase& c, std::ostream* out) { *out << c.name; }

std::vector<PitchCase> grid() {
  const std::pair<const char*, double> notes[] = {
      {"A2", 110.0}, {"C4", 261.63}, {"A4", 440.0}, {"C6", 1046.5}, {"A6", 1760.0}};
  std::vector<PitchCase> cases;
  for (const std::uint32_t rate : {8000u, 22050u, 44100u, 48000u, 96000u}) {
    for (const std::uint32_t size : {2048u, 4096u, 8192u, 16384u}) {
      for (const auto& [note, frequency] : notes) {
        // The method needs the fundamental some bins above 0 and six
        // harmonics below half the rate.
        if (frequency * size / rate < 16.0 || 6 * frequency >= rate / 2) continue;
        cases.push_back({"Rate" + std::to_string(rate) + "_Fft" + std::to_string(size) + "_" + note,
                         rate, size, frequency});
      }
    }
  }
  return cases;
}

class PitchGrid : public ::testing::TestWithParam<PitchCase> {};

TEST_P(PitchGrid, PureAndHarmonicTonesAreFoundAtTheirFrequency) {
  const PitchCase& c = GetParam();
  for (const auto& [kind, recipe] :
       {std::pair{"pure", pure(c.frequency)}, std::pair{"harmonic", harmonic(c.frequency)}}) {
    const PitchEstimate e = detect(recipe, c.fft_size, c.sample_rate);
    ASSERT_EQ(e.status, PitchStatus::Found) << kind;
    EXPECT_NEAR(e.frequency, c.frequency, 0.001)
        << kind << " tone: " << e.frequency - c.frequency << " Hz, "
        << test::cents(e.frequency, c.frequency) << " cents";
  }
}

INSTANTIATE_TEST_SUITE_P(Tones, PitchGrid, ::testing::ValuesIn(grid()),
                         [](const ::testing::TestParamInfo<PitchCase>& info) {
                           return info.param.name;
                         });

TEST(PitchDetection, CosineAtABinCentreComesBackExactly) {
  // Bin 100 of 8192 points at 44100 Hz: the measured and expected advances
  // agree and no correction is made.
  const double centre = 100.0 * 44100 / 8192;
  const PitchEstimate e = detect(pure(centre), 8192, 44100);
  ASSERT_EQ(e.status, PitchStatus::Found);
  EXPECT_NEAR(e.frequency, centre, 1e-9);
}

TEST(PitchDetection, OddHarmonicsOnlyLikeAClarinet) {
  // Spacings k, 2k, 2k, 2k, 2k: the long ones support the short one.
  const ToneRecipe clarinet = {
      196.0, {{1, 9000, 0.0}, {3, 6000, 1.0}, {5, 3500, 2.0}, {7, 2000, 0.4}, {9, 1200, -1.3}}};
  const PitchEstimate e = detect(clarinet, 8192, 44100);
  ASSERT_EQ(e.status, PitchStatus::Found);
  EXPECT_NEAR(e.frequency, 196.0, 0.001) << test::cents(e.frequency, 196.0) << " cents";
}

TEST(PitchDetection, BassNoteNearFortyOneHertz) {
  // E1 with strong harmonics lies in bin 7.65 of 8192 points at 44100 Hz;
  // so close to bin 0, the second harmonic and the mirror image leak into
  // the fundamental's bin and shift its phase, which costs some accuracy.
  const ToneRecipe bass = {41.2,
                           {{1, 10000, 0.2}, {2, 8000, 1.1}, {3, 5000, -0.7}, {4, 3000, 2.2}}};
  for (const std::uint32_t size : {8192u, 16384u}) {
    const PitchEstimate e = detect(bass, size, 44100);
    ASSERT_EQ(e.status, PitchStatus::Found) << size;
    EXPECT_NEAR(test::cents(e.frequency, 41.2), 0.0, 0.1)
        << size << " points: " << e.frequency - 41.2 << " Hz";
  }
}

TEST(PitchDetection, MissingFundamentalIsPlacedInTheFundamentalsBin) {
  // Harmonics 2 to 6 only: the spacing vote still picks the fundamental's
  // bin, but that bin holds no component of its own, so its phase follows
  // what leaks in and the refinement can only keep the result within its
  // reach of sample_rate / (2 hop) around the bin.
  const ToneRecipe no_fundamental = {
      220.0, {{2, 8000, 0.0}, {3, 6000, 0.5}, {4, 5000, 1.0}, {5, 4000, 1.5}, {6, 3000, 2.0}}};
  const PitchEstimate e = detect(no_fundamental, 8192, 44100);
  ASSERT_EQ(e.status, PitchStatus::Found);
  const double reach = 44100.0 / (2 * default_hop);
  const double bin_width = 44100.0 / 8192;
  EXPECT_LE(std::fabs(e.frequency - 220.0), reach + bin_width) << e.frequency << " Hz";
  EXPECT_GT(std::fabs(e.frequency - 440.0), reach + bin_width) << e.frequency << " Hz";
}

TEST(PitchDetection, BlockMustHoldBothFrames) {
  const std::vector<double> block = test::synthesise(pure(440.0), 44100, 4096 + 1024);
  const std::vector<double> short_block(block.begin(), block.end() - 1);
  EXPECT_EQ(detect(short_block, 4096, 44100).status, PitchStatus::TooFewSamples);
  EXPECT_EQ(detect(block, 4096, 44100).status, PitchStatus::Found);
  EXPECT_EQ(detect_pitch(block, 4096, 0xFFFFFFFFu, 44100, 40, 5).status,
            PitchStatus::TooFewSamples);
}

TEST(PitchDetection, SilenceAndDirectCurrent) {
  // All zero: every bin is a peak at threshold 0, bin 0 is settled on and
  // both phases are 0.
  const PitchEstimate zero = detect(std::vector<double>(8192 + 1024, 0.0), 8192, 44100);
  EXPECT_EQ(zero.status, PitchStatus::Found);
  EXPECT_EQ(zero.frequency, 0.0);
  // A constant: bin 0 holds most, bin 1 half of it, nothing else; bin 0 is
  // never a candidate and bin 1 is no peak.
  const PitchEstimate dc = detect(std::vector<double>(8192 + 1024, 5000.0), 8192, 44100);
  EXPECT_EQ(dc.status, PitchStatus::NoPeaks);
}

TEST(PitchDetection, HighThresholdFindsNoPeaks) {
  const std::vector<double> block = test::synthesise(pure(440.0), 44100, 8192 + 1024);
  EXPECT_EQ(detect_pitch(block, 8192, 1024, 44100, 40, 5).status, PitchStatus::Found);
  // A pure tone's peak is about N/4 times its mean-sized share of the bins.
  EXPECT_EQ(detect_pitch(block, 8192, 1024, 44100, 150, 5).status, PitchStatus::Found);
  EXPECT_EQ(detect_pitch(block, 8192, 1024, 44100, 5000, 5).status, PitchStatus::NoPeaks);
}

TEST(PitchAngles, PhaseAndPrincipalAngle) {
  const double pi = std::numbers::pi;
  EXPECT_EQ(phase_angle(0.0, 0.0), 0.0);
  EXPECT_EQ(phase_angle(0.0, -1.0), pi);
  EXPECT_DOUBLE_EQ(phase_angle(1.0, 1.0), pi / 4);
  EXPECT_DOUBLE_EQ(principal_angle(4.0), 4.0 - 2 * pi);
  EXPECT_DOUBLE_EQ(principal_angle(-4.0), -4.0 + 2 * pi);
  EXPECT_EQ(principal_angle(2.0), 2.0);
  EXPECT_DOUBLE_EQ(principal_angle(pi), -pi);
  EXPECT_DOUBLE_EQ(principal_angle(-pi), pi);
  EXPECT_NEAR(principal_angle(1000.0), std::remainder(1000.0, 2 * pi), 1e-12);
  EXPECT_TRUE(std::isnan(principal_angle(INFINITY)));
  EXPECT_TRUE(std::isnan(principal_angle(1e300)));
}

TEST(PitchAngles, PhaseDifferenceReachesHalfATurnEitherSide) {
  // Bin 10 of 1024 points at 1024 Hz is 10 Hz; over a hop of 256 samples a
  // quarter turn more than expected means 1 Hz more.
  const double pi = std::numbers::pi;
  const double expected_advance = 2 * pi * 10 * 256 / 1024.0;  // 5 pi
  EXPECT_NEAR(phase_difference_frequency(10, 0.0, expected_advance + pi / 2, 256, 1024, 1024), 11.0,
              1e-9);
  EXPECT_NEAR(phase_difference_frequency(10, 0.3, 0.3 + expected_advance - pi / 2, 256, 1024, 1024),
              9.0, 1e-9);
  // Whatever the phases, the result stays within 2 Hz (1024 / (2 * 256)).
  for (double p2 = -3.0; p2 <= 3.0; p2 += 0.25) {
    const double f = phase_difference_frequency(10, 0.7, p2, 256, 1024, 1024);
    EXPECT_LE(std::fabs(f - 10.0), 2.0 + 1e-9) << "second phase " << p2;
  }
}

TEST(PitchWindow, PeriodicHannWindow) {
  std::vector<double> ones(8, 2.0), windowed(8);
  apply_hann_window(ones.data(), windowed.data(), 8);
  EXPECT_EQ(windowed[0], 0.0);
  EXPECT_EQ(windowed[4], 2.0);
  EXPECT_DOUBLE_EQ(windowed[2], 1.0);
  EXPECT_DOUBLE_EQ(windowed[6], 1.0);
  EXPECT_EQ(ones[3], 2.0);
}

}  // namespace
}  // namespace toneprint
