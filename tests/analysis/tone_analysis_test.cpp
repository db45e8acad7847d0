#include "analysis/tone_analysis.h"
#include "session.h"

#include "analysis/tone_results.h"
#include "app/console.h"
#include "support/test_support.h"

using namespace toneprint;

using Samples = std::vector<std::int16_t>;

static Samples operator+(Samples a, const Samples& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
static Samples silence(std::size_t count) { return Samples(count, 0); }
// A square wave of 441 Hz at 44100 Hz: no sample is quiet.
static Samples square(std::size_t count) {
  Samples s(count);
  for (std::size_t i = 0; i < count; ++i) s[i] = (i / 50) % 2 == 0 ? 10000 : -10000;
  return s;
}

// The console text and the report's tone lines of a default analysis.
static std::pair<std::string, std::string> analyse(const std::string& path,
                                                   Evaluation evaluation = Evaluation::fast) {
  WaveFile wave;
  EXPECT_TRUE(wave.open_read(path.c_str())) << path;
  AnalysisSettings settings;
  set_default_settings(settings, wave.sample_rate());
  std::FILE* const report = std::tmpfile();
  ScriptedConsole console;
  analyse_tones(wave, settings, report, console, evaluation);
  return {console.output(), test::contents_of(report)};
}

// Tones start at a sample above the silence threshold (3200); a quiet
// sample followed by 0.4 s (17640 samples) of quiet ones ends a tone, as
// does the end of the recording. After the attack (8820 samples) a pass
// takes 13300 samples at 441 Hz.
TEST(ToneAnalysis, SplitsTheRecordingIntoTonesAtTheSilences) {
  Samples stretches;  // ten seconds of one loud sample every 17000
  for (int i = 0; i < 26; ++i) stretches = stretches + Samples{20000} + silence(16999);
  const struct {
    const char* lines;    // a letter a line: A for 441.000 Hz, M another frequency, S too short
    const char* console;  // null: not checked
    Samples samples;
  } cases[] = {
      // no sample above the threshold
      {"", "", silence(9) + Samples{3200, -32768, 3200} + silence(9)},
      // a click and silence
      {"S", "", Samples{20000} + silence(8820 + 17641 + 10)},
      // a tone cut in its attack, then one a sample longer
      {"", "", Samples{20000} + silence(8820)},
      {"S", "", Samples{20000} + silence(8821)},
      // the most negative sample is loud, but starts no tone
      {"M", nullptr, square(30000) + Samples(20000, -32768) + square(30000)},
      {"", "", Samples(30000, -32768) + silence(20000)},
      // a break one sample short, then a break; each tone measured alike
      {"M", nullptr, square(44100) + silence(17640) + square(44100)},
      {"AA", nullptr, square(44100) + silence(17641) + square(44100)},
      // the end of the recording cuts the third pass, which is dropped
      {"A", "Detected tone at 441.00 Hz\nDetected tone at 441.00 Hz\n",
       square(8820 + 2 * 13300 + 9000)},
      // a block of silence inside a tone gives 0 Hz, which is no pitch; one
      // of direct current no peaks: neither pass is measured
      {"S", "Error: fundamental frequency detection error. Please report this error.\n",
       Samples{20000} + silence(8820 + 9216) + Samples{20000} + silence(20000)},
      {"S", "Error: no peaks found. Peak detect threshold may be too high.\n",
       Samples{20000} + Samples(8820 + 9216, 5000) + silence(20000)},
      // every quiet sample starts a look ahead, and none finds a break:
      // looking again from each of them would take many seconds
      {"S", nullptr, stretches + silence(20000)},
  };
  const std::string too_short = "Tone too short to measure";
  const test::TempDir dir;
  const auto start = std::chrono::steady_clock::now();
  for (const auto& c : cases) {
    const auto [console, report] = analyse(dir.write("take.wav", test::wave(c.samples)));
    std::string lines;
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);) {
      const bool measured = std::isdigit(static_cast<unsigned char>(line[0])) != 0;
      lines += line.starts_with("441.000, ") ? 'A' : measured ? 'M' : line == too_short ? 'S' : '?';
    }
    EXPECT_EQ(lines, c.lines) << "row " << &c - cases << ": " << report;
    EXPECT_EQ(c.console == nullptr ? console : c.console, console) << "row " << &c - cases;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "reading again";
}

// At 8000 samples per second a pass takes its pitch block, 5120 samples,
// and starts 1601 samples after the tone's first loud sample. A tone at
// 1900 Hz for three passes and 2050 Hz for four has its second harmonic
// (2000 units) below 4000 Hz in the first three passes only: its mean is
// over those three, in the report's line and in the tone's record alike.
TEST(ToneAnalysis, AHarmonicAboveTheLimitInSomePassesIsMeanedOverTheOthers) {
  constexpr std::uint32_t rate = 8000;
  const auto tone = [](double f0, std::size_t count) {
    return test::synthesise({f0, {{1, 10000.0, std::numbers::pi / 2}, {2, 2000.0, 0.0}}}, rate,
                            count);
  };
  std::vector<double> samples = tone(1900.0, 1601 + 3 * 5120);
  const std::vector<double> higher = tone(2050.0, 4 * 5120 + 2000);  // the eighth pass is cut
  samples.insert(samples.end(), higher.begin(), higher.end());
  samples.resize(samples.size() + rate, 0.0);
  ASSERT_GT(samples[0], 3200.0) << "the tone starts at the first sample";

  const test::TempDir dir;
  const auto [console, report] = analyse(dir.write(
      "step.wav", test::wave(std::vector<std::int16_t>(samples.begin(), samples.end()), rate)));
  EXPECT_EQ(test::occurrences(console, "Detected tone at 19"), 3u) << console;
  EXPECT_EQ(test::occurrences(console, "Detected tone at 20"), 4u) << console;
  std::vector<std::string> fields;
  std::istringstream line(report.substr(0, report.find('\n')));
  for (std::string field; std::getline(line, field, ',');) fields.push_back(field);
  ASSERT_EQ(fields.size(), 2u + 11u) << report;
  EXPECT_NEAR(std::stod(fields[2]), 10000.0, 10.0) << report;
  EXPECT_NEAR(std::stod(fields[3]), 2000.0, 10.0) << report;
  for (std::size_t k = 2; k <= 10; ++k) EXPECT_EQ(fields[2 + k], " ") << k;

  test::VectorSource source(samples, rate);
  AnalysisSettings settings;
  set_default_settings(settings, rate);
  ToneCollector collector;
  analyse_tones(source, settings, collector);
  ASSERT_EQ(collector.tones().size(), 1u);
  const ToneRecord& record = collector.tones()[0];
  ASSERT_EQ(record.passes.size(), 7u);
  EXPECT_NEAR(record.harmonic(1).value_or(0.0), 2000.0, 10.0);
  EXPECT_FALSE(record.harmonic(2).has_value());
}

TEST(ToneAnalysis, DurationsAreTruncatedSampleCountsInRange) {
  EXPECT_EQ(duration_samples(44100, 0.2), 8820u);
  EXPECT_EQ(duration_samples(4294967295u, 10), 4294967295u) << "held to the 32-bit range";
  EXPECT_EQ(duration_samples(44100, -1) + duration_samples(44100, NAN), 0u);
}

// The fast path (harmonics by phasors, both pitch frames in one planned
// FFT) against the reference (every term's sine taken, the recipe's FFT):
// the same console and report text to the last digit, on the demo, the
// corpus's recordings that hold tones (8000, 11025 and 44100 samples per
// second), tones made here at every common rate from 8000 to 96000, and the
// benchmarks' long session (120 tones at 48000).
TEST(ToneAnalysis, TheFastPathWritesTheReferencesReportAndConsoleLines) {
  std::vector<std::string> recordings = {TONEPRINT_SOURCE_DIR "/demo/demo.wav"};
  for (const auto& entry :
       std::filesystem::directory_iterator(TONEPRINT_SOURCE_DIR "/tests/corpus/files")) {
    if (entry.path().filename().string().ends_with("_tone.wav")) {
      recordings.push_back(entry.path().string());
    }
  }
  const test::TempDir dir;
  for (const std::uint32_t rate : {8000u, 11025u, 16000u, 22050u, 32000u, 44100u, 48000u, 88200u,
                                   96000u}) {
    std::vector<std::int16_t> samples(rate * 4, 0);
    const double notes[] = {98.0, 293.7, 1174.7};
    for (int i = 0; i < 3; ++i) {
      test::ToneRecipe recipe{notes[i], {}};
      for (int k = 1; k <= 12; ++k) recipe.partials.push_back({k, 9000.0 / k, 0.9 * k});
      const std::vector<double> tone = test::synthesise(recipe, rate, rate * 9 / 10);
      std::copy(tone.begin(), tone.end(), samples.begin() + i * rate * 13 / 10);
    }
    recordings.push_back(dir.write(std::to_string(rate) + ".wav", test::wave(samples, rate)));
  }
  const std::string session = dir.file("long-session.wav");
  ASSERT_TRUE(bench::write_long_session(session));
  recordings.push_back(session);
  ASSERT_GE(recordings.size(), 17u);
  std::size_t lines = 0;
  for (const std::string& path : recordings) {
    const auto reference = analyse(path, Evaluation::reference);
    EXPECT_NE(reference.first.find("Detected tone at"), std::string::npos) << path;
    EXPECT_EQ(analyse(path, Evaluation::fast), reference) << path;
    lines += static_cast<std::size_t>(std::count(reference.second.begin(), reference.second.end(), '\n'));
  }
  RecordProperty("report_lines", static_cast<int>(lines));
  EXPECT_GE(lines, 120u + 27u);
}
