#include "analysis/pitch_detection.h"

#include "support/test_support.h"

using namespace toneprint;

using test::ToneRecipe;
constexpr double pi = std::numbers::pi;

static PitchEstimate detect(const ToneRecipe& recipe, std::uint32_t fft_size, std::uint32_t rate) {
  return detect_pitch(test::synthesise(recipe, rate, fft_size + 1024), fft_size, 1024, rate, 40, 5);
}

// Over rates, transform sizes and notes, a pure tone and one of six
// harmonics at falling levels; the method needs the fundamental some bins
// above 0 and the harmonics below half the rate.
TEST(PitchDetection, PureAndHarmonicTonesAreFoundAtTheirFrequency) {
  const std::pair<const char*, double> notes[] = {
      {"A2", 110.0}, {"C4", 261.63}, {"A4", 440.0}, {"C6", 1046.5}, {"A6", 1760.0}};
  int cases = 0;
  for (const std::uint32_t rate : {8000u, 22050u, 44100u, 48000u, 96000u}) {
    for (const std::uint32_t size : {2048u, 4096u, 8192u, 16384u}) {
      for (const auto& [note, f] : notes) {
        if (f * size / rate < 16.0 || 6 * f >= rate / 2) continue;
        ToneRecipe harmonic{f, {}};
        for (int k = 1; k <= 6; ++k) harmonic.partials.push_back({k, 12000.0 / k, 1.3 * k});
        for (const ToneRecipe& recipe : {ToneRecipe{f, {{1, 16000, 0.3}}}, harmonic}) {
          const PitchEstimate e = detect(recipe, size, rate);
          EXPECT_EQ(e.status, PitchStatus::Found);
          EXPECT_NEAR(e.frequency, f, 0.001)
              << "Rate" << rate << "_Fft" << size << "_" << note << ", " << recipe.partials.size()
              << " partials: " << test::cents(e.frequency, f) << " cents";
          ++cases;
        }
      }
    }
  }
  EXPECT_EQ(cases, 158);
}

TEST(PitchDetection, MusicalCases) {
  // FFT size, cents allowed, the tone
  const std::tuple<std::uint32_t, double, ToneRecipe> cases[] = {
      // a cosine at bin 100's centre: the advance is as expected, no correction
      {8192, 1e-8, {100.0 * 44100 / 8192, {{1, 16000, pi / 2}}}},
      // odd harmonics only, like a clarinet: spacings k, 2k, 2k, ... support k
      {8192, 0.01, {196.0, {{1, 9000, 0}, {3, 6000, 1}, {5, 3500, 2}, {7, 2000, 0.4}}}},
      // E1 in bin 7.65: the second harmonic and the mirror image leak into
      // the fundamental's bin and shift its phase, at some cost
      {16384, 0.1, {41.2, {{1, 10000, 0.2}, {2, 8000, 1.1}, {3, 5000, -0.7}, {4, 3000, 2.2}}}},
      // a missing fundamental: the vote still picks the fundamental's bin, but
      // that bin holds nothing of its own, so its phase follows what leaks in;
      // the result stays within the refinement's reach, rate / (2 hop), and a
      // bin of it: 27 Hz, 200 cents
      {8192, 200, {220.0, {{2, 8000, 0}, {3, 6000, 0.5}, {4, 5000, 1}, {5, 4000, 1.5}}}},
  };
  for (const auto& [fft_size, within_cents, recipe] : cases) {
    const PitchEstimate e = detect(recipe, fft_size, 44100);
    EXPECT_EQ(e.status, PitchStatus::Found);
    EXPECT_NEAR(test::cents(e.frequency, recipe.fundamental), 0.0, within_cents)
        << recipe.fundamental << " Hz, " << fft_size << " points";
  }
}

// The fast detection (each frame windowed into a planned FFT) against the
// reference (the recipe's FFT): over rates, sizes, notes and noise, the
// same estimate to the last bit.
TEST(PitchDetection, TheFastDetectionFindsTheReferencesPitch) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> noise(-40.0, 40.0);
  PitchDetector fast(Evaluation::fast), reference(Evaluation::reference);
  int cases = 0;
  for (const std::uint32_t rate : {8000u, 22050u, 44100u, 48000u, 96000u}) {
    for (const std::uint32_t size : {2048u, 4096u, 8192u, 16384u}) {
      for (const double f : {82.4, 110.0, 261.63, 440.0, 1046.5, 1760.0, 3520.0}) {
        if (6 * f >= rate / 2) continue;
        ToneRecipe recipe{f, {}};
        for (int k = 1; k <= 6; ++k) recipe.partials.push_back({k, 12000.0 / k, 0.7 * k});
        std::vector<double> block = test::synthesise(recipe, rate, size + 1024);
        for (double& v : block) v += noise(random);
        const PitchEstimate a = fast.detect(block, size, 1024, rate, 40, 5);
        const PitchEstimate b = reference.detect(block, size, 1024, rate, 40, 5);
        ASSERT_EQ(a.status, b.status) << rate << " " << size << " " << f;
        EXPECT_EQ(a.frequency, b.frequency) << rate << " " << size << " " << f;
        EXPECT_TRUE(std::equal(fast.magnitudes().begin(), fast.magnitudes().end(),
                               reference.magnitudes().begin(), reference.magnitudes().end()));
        ++cases;
      }
    }
  }
  EXPECT_GT(cases, 100);
  // The detectors keep their arrays between sizes; too short a block is
  // refused by both.
  const std::vector<double> few(3000, 1.0);
  EXPECT_EQ(fast.detect(few, 2048, 1024, 44100, 40, 5).status, PitchStatus::TooFewSamples);
}

TEST(PitchDetection, FailuresGiveAStatusNeverAFrequency) {
  const std::vector<double> block = test::synthesise({440.0, {{1, 16000, 0.3}}}, 44100, 5120);
  const auto status = [](std::span<const double> x, std::uint32_t hop, std::uint32_t threshold) {
    return detect_pitch(x, 4096, hop, 44100, threshold, 5).status;
  };
  EXPECT_EQ(status(block, 1024, 40), PitchStatus::Found);
  EXPECT_EQ(status(std::span(block).first(5119), 1024, 40), PitchStatus::TooFewSamples);
  EXPECT_EQ(status(block, 0xFFFFFFFFu, 40), PitchStatus::TooFewSamples);
  // A pure tone's peak is about N / 4 times the mean of the bins.
  EXPECT_EQ(status(block, 1024, 150), PitchStatus::Found);
  EXPECT_EQ(status(block, 1024, 5000), PitchStatus::NoPeaks);
  // A constant: bin 0, never a candidate, and half of it in bin 1, no peak.
  EXPECT_EQ(status(std::vector<double>(5120, 5000.0), 1024, 40), PitchStatus::NoPeaks);
  // All zero: every bin is a peak at threshold 0, and bin 0 has phase 0.
  const PitchEstimate zero = detect_pitch(std::vector<double>(5120), 4096, 1024, 44100, 40, 5);
  EXPECT_EQ(zero.status, PitchStatus::Found);
  EXPECT_EQ(zero.frequency, 0.0);
}

TEST(PitchAngles, PhasePrincipalAngleAndTheFrequencyOfAnAdvance) {
  EXPECT_EQ(phase_angle(0.0, 0.0), 0.0);
  EXPECT_EQ(phase_angle(0.0, -1.0), pi);
  const double principal[][2] = {
      {4, 4 - 2 * pi}, {2, 2}, {pi, -pi}, {-pi, pi}, {1000, std::remainder(1000.0, 2 * pi)}};
  for (const auto& [x, expected] : principal) EXPECT_NEAR(principal_angle(x), expected, 1e-12) << x;
  EXPECT_TRUE(std::isnan(principal_angle(INFINITY)));
  EXPECT_TRUE(std::isnan(principal_angle(1e300)));
  // Bin 10 of 1024 points at 1024 Hz is 10 Hz. Whatever the phases, the
  // frequency lies within 1024 / (2 x 256) Hz of the bin's, whether the
  // advance expected over the hop of 256 is a half turn (bin 10) or a quarter.
  for (const std::uint32_t bin : {9u, 10u}) {
    for (double p = -3.0; p <= 3.0; p += 0.25) {
      EXPECT_NEAR(phase_difference_frequency(bin, 0.7, p, 256, 1024, 1024), bin, 2.0 + 1e-9) << p;
    }
  }
}

TEST(PitchWindow, PeriodicHannWindowLeavesItsSource) {
  const std::vector<double> twos(8, 2.0);
  std::vector<double> windowed(8);
  apply_hann_window(twos.data(), windowed.data(), 8);
  const double r = std::sqrt(0.5), expected[] = {0, 1 - r, 1, 1 + r, 2, 1 + r, 1, 1 - r};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(windowed[i], expected[i], 1e-15) << i;
  EXPECT_EQ(twos, std::vector<double>(8, 2.0));
}
