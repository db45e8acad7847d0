#include "analysis/tone_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/report.h"
#include "support/capture_file.h"
#include "support/riff_builder.h"
#include "support/temp_dir.h"
#include "support/tone_recipe.h"

namespace toneprint {
namespace {

using Samples = std::vector<std::int16_t>;

class StringOutput final : public TextOutput {
 public:
  void write(std::string_view text) override { text_ += text; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

Samples to_samples(const std::vector<double>& values) {
  return Samples(values.begin(), values.end());
}

Samples silence(std::size_t count) { return Samples(count, 0); }

// A square wave of 441 Hz at 44100 Hz: every sample is loud.
Samples square(std::size_t count, std::int16_t level = 10000) {
  Samples s(count);
  for (std::size_t i = 0; i < count; ++i) s[i] = (i / 50) % 2 == 0 ? level : -level;
  return s;
}

Samples operator+(Samples a, const Samples& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Outcome {
  std::string console;
  std::string report;  // tone lines only
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }
};

class ToneAnalysisTest : public ::testing::Test {
 protected:
  ToneAnalysisTest() { set_default_settings(settings_, 44100); }

  Outcome analyse(const Samples& samples) {
    WaveFile wave;
    EXPECT_TRUE(wave.open_read(dir_.write("take.wav", test::mono16_wave(samples)).c_str()));
    test::CaptureFile report;
    StringOutput console;
    analyse_tones(wave, settings_, report.get(), console);
    return {console.text(), report.text()};
  }

  test::TempDir dir_;
  AnalysisSettings settings_;
};

TEST_F(ToneAnalysisTest, OneSecondOfA440MeasuresTwoPasses) {
  // The attack (8820 samples) and two passes of 13230 samples fit in the
  // second; the third pass meets the silence before its block is full.
  const test::ToneRecipe a440 = {440.0, {{1, 10000.0, -std::numbers::pi / 2}}};
  const Outcome run = analyse(to_samples(test::synthesise(a440, 44100, 44100)) + silence(44100));
  EXPECT_EQ(run.console, "Detected tone at 440.00 Hz\nDetected tone at 440.00 Hz\n");
  ASSERT_EQ(run.lines().size(), 1u);
  double frequency = 0, max_fundamental = 0, fundamental = 0, second = 0;
  ASSERT_EQ(std::sscanf(run.report.c_str(), "%lf, %lf, %lf, %lf", &frequency, &max_fundamental,
                        &fundamental, &second),
            4)
      << run.report;
  EXPECT_NEAR(frequency, 440.0, 0.001);
  EXPECT_NEAR(max_fundamental, 10000.0, 1.0);
  EXPECT_NEAR(fundamental, 10000.0, 1.0);
  EXPECT_NEAR(second, 0.0, 0.5);
  // Eleven amplitude columns, every harmonic below the limit.
  EXPECT_EQ(std::count(run.report.begin(), run.report.end(), ','), 12);
}

TEST_F(ToneAnalysisTest, RecordingWithoutTonesWritesNothing) {
  const Outcome run = analyse(silence(1000) + Samples{3200, -32768, 3200} + silence(1000));
  EXPECT_EQ(run.console, "");
  EXPECT_EQ(run.report, "");
}

TEST_F(ToneAnalysisTest, ClickFollowedBySilenceIsTooShort) {
  const Outcome run = analyse(Samples{20000} + silence(8820 + 17641 + 10));
  EXPECT_EQ(run.console, "");
  EXPECT_EQ(run.report, "Tone too short to measure\n");
}

TEST_F(ToneAnalysisTest, ToneCutInItsAttackWritesNoLine) {
  // The starting sample must be followed by more than the attack.
  EXPECT_EQ(analyse(Samples{20000} + silence(8820)).report, "");
  EXPECT_EQ(analyse(Samples{20000} + silence(8821)).report, "Tone too short to measure\n");
}

TEST_F(ToneAnalysisTest, OnlyAFullBreakSplitsATone) {
  // The silence length is 17640: a quiet sample and 17640 more are a break.
  const Samples tone = square(44100);
  EXPECT_EQ(analyse(tone + silence(17640) + tone + silence(20000)).lines().size(), 1u);
  EXPECT_EQ(analyse(tone + silence(17641) + tone + silence(20000)).lines().size(), 2u);
}

TEST_F(ToneAnalysisTest, MostNegativeSampleIsLoudButNeverStartsATone) {
  // A stretch of -32768 inside a tone does not break it...
  const Samples tone = square(30000);
  EXPECT_EQ(analyse(tone + Samples(20000, -32768) + tone + silence(20000)).lines().size(), 1u);
  // ...and alone it starts none.
  EXPECT_EQ(analyse(Samples(30000, -32768) + silence(20000)).report, "");
}

TEST_F(ToneAnalysisTest, EachToneStartsWithoutTheLastOnesBreak) {
  // Two tones separated by a break; the second holds no quiet sample and is
  // measured like the first.
  const Outcome run = analyse(square(44100) + silence(20000) + square(44100) + silence(20000));
  const auto lines = run.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 8), "441.000,");
  EXPECT_EQ(lines[1].substr(0, 8), "441.000,");
}

TEST_F(ToneAnalysisTest, LastToneCutByTheEndOfTheFileKeepsItsPasses) {
  // Attack, two passes and part of a third: the cut pass is dropped.
  const Outcome run = analyse(square(8820 + 2 * 13300 + 9000));
  ASSERT_EQ(run.lines().size(), 1u) << run.report;
  EXPECT_EQ(run.lines()[0].substr(0, 8), "441.000,");
}

TEST_F(ToneAnalysisTest, FailedDetectionsArePrintedAndCostOnlyTheirPass) {
  // A block of silence inside a tone gives 0 Hz, which is no pitch; a block
  // of direct current gives no peaks. Neither pass is measured.
  const Outcome zero =
      analyse(Samples{20000} + silence(8820 + 9216) + Samples{20000} + silence(20000));
  EXPECT_EQ(zero.console,
            "Error: fundamental frequency detection error. Please report this error.\n");
  EXPECT_EQ(zero.report, "Tone too short to measure\n");

  const Outcome dc = analyse(Samples{20000} + Samples(8820 + 9216, 5000) + silence(20000));
  EXPECT_EQ(dc.console, "Error: no peaks found. Peak detect threshold may be too high.\n");
  EXPECT_EQ(dc.report, "Tone too short to measure\n");
}

TEST_F(ToneAnalysisTest, QuietStretchesShortOfABreakCostNoRereading) {
  // Ten seconds of one loud sample every 17000: every quiet sample starts a
  // silence test, and none is a break. Reading each stretch again for each
  // of its samples would take hours; the run must take a moment.
  Samples samples;
  for (int i = 0; i < 26; ++i) samples = samples + Samples{20000} + silence(16999);
  const auto start = std::chrono::steady_clock::now();
  const Outcome run = analyse(samples + silence(20000));
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
  EXPECT_EQ(run.lines().size(), 1u);
  EXPECT_LT(seconds.count(), 20.0);
}

class SilenceFollows : public ToneAnalysisTest {
 protected:
  WaveFile wave_;
  void open(const Samples& samples) {
    ASSERT_TRUE(wave_.open_read(dir_.write("s.wav", test::mono16_wave(samples)).c_str()));
  }
};

TEST_F(SilenceFollows, ReturnsAfterTheQuietSampleWhenSoundComesBack) {
  settings_.sample_rate = 10;
  settings_.silence_seconds = 0.4;  // 4 samples
  open(Samples{0, 0, 0, 0, 9000, 7} + silence(4));
  std::int16_t s = 0;
  ASSERT_TRUE(wave_.read_sample(s));
  EXPECT_FALSE(silence_follows(wave_, settings_));
  ASSERT_TRUE(wave_.read_sample(s));
  EXPECT_EQ(wave_.sample_position(), 2u);  // back just after the first quiet sample
  ASSERT_TRUE(wave_.skip_forward(3));      // to the 7
  ASSERT_TRUE(wave_.read_sample(s));
  EXPECT_EQ(s, 7);
  EXPECT_TRUE(silence_follows(wave_, settings_));  // four quiet samples
  EXPECT_EQ(wave_.sample_position(), 10u);
}

TEST_F(SilenceFollows, EndOfTheRecordingCountsAsSilence) {
  settings_.sample_rate = 10;
  open(Samples{0, 0});
  std::int16_t s = 0;
  ASSERT_TRUE(wave_.read_sample(s));
  EXPECT_TRUE(silence_follows(wave_, settings_));
  settings_.silence_seconds = 0.0;  // no look ahead: every quiet sample is a break
  open(Samples{0, 20000});
  ASSERT_TRUE(wave_.read_sample(s));
  EXPECT_TRUE(silence_follows(wave_, settings_));
}

TEST(DurationSamples, TruncatesAndStaysInRange) {
  EXPECT_EQ(duration_samples(44100, 0.2), 8820u);
  EXPECT_EQ(duration_samples(44100, 0.4), 17640u);
  EXPECT_EQ(duration_samples(0, 10.0), 0u);
  EXPECT_EQ(duration_samples(4294967295u, 10.0), 4294967295u);
  EXPECT_EQ(duration_samples(44100, -1.0), 0u);
  EXPECT_EQ(duration_samples(44100, std::nan("")), 0u);
}

TEST(FastAnalysis, WritesTheReferenceReportAndConsoleLines) {
  // The demo, the corpus's recordings that hold tones, and synthesised
  // harmonic tones at common rates: the fast measurement must give the same
  // text, to the last digit, as the straightforward one.
  std::vector<std::string> recordings = {std::string(TONEPRINT_SOURCE_DIR) + "/demo/demo.wav"};
  for (const auto& entry : std::filesystem::directory_iterator(std::string(TONEPRINT_SOURCE_DIR) +
                                                               "/tests/corpus/files")) {
    if (entry.path().extension() == ".wav" && entry.path().stem().string().ends_with("_tone")) {
      recordings.push_back(entry.path().string());
    }
  }
  test::TempDir dir;
  for (const std::uint32_t rate : {22050u, 44100u, 48000u, 96000u}) {
    Samples samples;
    for (const double f0 : {55.0, 196.0, 440.0, 1318.5}) {
      const test::ToneRecipe tone = {f0,
                                     {{1, 8000, 0.1},
                                      {2, 5000, 1.2},
                                      {3, 3000, 2.3},
                                      {5, 1500, 0.4},
                                      {8, 700, -1.0},
                                      {13, 300, 2.0}}};
      samples = samples + to_samples(test::synthesise(tone, rate, rate * 3 / 2)) + silence(rate);
    }
    std::string bytes = test::mono16_wave(samples);
    bytes.replace(24, 4, test::u32le(rate));  // the format's sample rate
    bytes.replace(28, 4, test::u32le(rate * 2));
    recordings.push_back(dir.write("tones" + std::to_string(rate) + ".wav", bytes));
  }
  ASSERT_GE(recordings.size(), 10u);

  for (const std::string& path : recordings) {
    std::string outputs[2];
    for (const Evaluation evaluation : {Evaluation::reference, Evaluation::fast}) {
      WaveFile wave;
      ASSERT_TRUE(wave.open_read(path.c_str())) << path;
      AnalysisSettings settings;
      set_default_settings(settings, wave.sample_rate());
      test::CaptureFile report;
      StringOutput console;
      analyse_tones(wave, settings, report.get(), console, evaluation);
      outputs[evaluation == Evaluation::fast] = console.text() + report.text();
    }
    EXPECT_NE(outputs[0].find("Detected tone at"), std::string::npos) << path;
    EXPECT_EQ(outputs[1], outputs[0]) << path;
  }
}

}  // namespace
}  // namespace toneprint
