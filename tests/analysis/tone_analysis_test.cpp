#include "analysis/tone_analysis.h"
#include "classic/wave_analysis.h"
#include "session.h"

#include "analysis/recording_analysis.h"
#include "analysis/tone_results.h"
#include "app/console.h"
#include "readers/memory_source.h"
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

// At 192000 samples per second a silence of 10 s is a look ahead of more
// samples than the stream keeps: from the end of a tone at C4 it finds the
// next, at A4, 9.5 s on, and has to come back by seeking.
static std::vector<double> tones_far_apart() {
  constexpr std::uint32_t rate = 192000;
  std::vector<double> samples = test::synthesise({261.63, {{1, 16000.0, 0.0}}}, rate, 2 * rate);
  samples.resize(samples.size() + rate * 19 / 2, 0.0);
  const std::vector<double> a4 = test::synthesise({440.0, {{1, 16000.0, 0.0}}}, rate, 2 * rate);
  samples.insert(samples.end(), a4.begin(), a4.end());
  samples.resize(samples.size() + rate, 0.0);
  return samples;
}

static RecordingResult analyse_far_apart(std::unique_ptr<SampleSource> source, bool keep_levels) {
  RecordingResult result;
  set_default_settings(result.settings, 192000);
  result.settings.silence_seconds = 10.0;
  AnalysisOptions run;
  run.keep_levels = keep_levels;
  std::atomic<std::uint64_t> read = 0;
  const Reopen cannot = [](std::string& error) {
    error = "cannot reopen";
    return std::unique_ptr<SampleSource>();
  };
  analyse_source(source, cannot, run, result, read);
  return result;
}

// Keeping the levels (as the HTML page does) reads through a tap that must
// let the tone loop seek back: the same tones and passes, to the last digit,
// with each sample's level kept once.
TEST(ToneAnalysis, KeepingTheLevelsChangesNoNumberWhenTheLoopSeeksBack) {
  const std::vector<double> samples = tones_far_apart();
  RecordingFormat format;
  format.sample_rate = 192000;
  format.channels = 1;
  RecordingResult results[2];
  for (const bool keep : {false, true}) {
    results[keep] = analyse_far_apart(
        std::make_unique<MemorySource<double>>(samples, format, ChannelChoice::mix(), 1.0), keep);
    EXPECT_EQ(results[keep].error, "") << keep;
  }
  const RecordingResult& plain = results[0];
  const RecordingResult& kept = results[1];
  ASSERT_EQ(kept.tones.size(), plain.tones.size());
  for (std::size_t t = 0; t < plain.tones.size(); ++t) {
    EXPECT_EQ(kept.tones[t].end, plain.tones[t].end) << t;
    EXPECT_EQ(kept.tones[t].failures.size(), plain.tones[t].failures.size()) << t;
    ASSERT_EQ(kept.tones[t].passes.size(), plain.tones[t].passes.size()) << t;
    for (std::size_t p = 0; p < plain.tones[t].passes.size(); ++p) {
      EXPECT_EQ(kept.tones[t].passes[p].first, plain.tones[t].passes[p].first) << t << " " << p;
      EXPECT_EQ(kept.tones[t].passes[p].fundamental, plain.tones[t].passes[p].fundamental) << p;
    }
  }
  LevelEnvelope levels;
  levels.add(samples);
  ASSERT_TRUE(kept.levels.has_value());
  EXPECT_EQ(kept.levels->samples(), samples.size());
  EXPECT_EQ(kept.levels->peaks(), levels.peaks());
}

// A source that cannot seek cannot give the look ahead back: the analysis
// stops there with an error, and nothing is measured after it.
TEST(ToneAnalysis, ASourceThatCannotGoBackStopsTheAnalysisWithAnError) {
  const std::vector<double> samples = tones_far_apart();
  const RecordingResult result =
      analyse_far_apart(std::make_unique<test::VectorSource>(samples, 192000), false);
  // The look ahead started after the first sample of silence, 384000.
  EXPECT_NE(result.error.find("cannot go back to sample 384001"), std::string::npos)
      << result.error;
  ASSERT_EQ(result.tones.size(), 1u);
  EXPECT_EQ(result.tones[0].end, 384000u);
  EXPECT_FALSE(result.tones[0].passes.empty());
  for (const MeasuredPass& pass : result.tones[0].passes) {
    EXPECT_NEAR(pass.fundamental, 261.63, 1.0);
  }
}

TEST(ToneAnalysis, DurationsAreTruncatedSampleCountsInRange) {
  EXPECT_EQ(duration_samples(44100, 0.2), 8820u);
  EXPECT_EQ(duration_samples(4294967295u, 10), 4294967295u) << "held to the 32-bit range";
  EXPECT_EQ(duration_samples(44100, -1) + duration_samples(44100, NAN), 0u);
}

// The fast path (harmonics by phasors, both pitch frames in one planned
// FFT) against the reference (every term's sine taken, the recipe's FFT):
// the same console and report text to the last digit. Returns the report
// lines written, so that each caller can check that there was something to
// compare. Split in three so that the suite can run them side by side.
static std::size_t expect_fast_path_matches_reference(const std::vector<std::string>& recordings) {
  std::size_t lines = 0;
  for (const std::string& path : recordings) {
    const auto reference = analyse(path, Evaluation::reference);
    EXPECT_NE(reference.first.find("Detected tone at"), std::string::npos) << path;
    EXPECT_EQ(analyse(path, Evaluation::fast), reference) << path;
    lines += static_cast<std::size_t>(std::count(reference.second.begin(), reference.second.end(), '\n'));
  }
  return lines;
}

// The demo and the corpus's recordings that hold tones (8000, 11025 and
// 44100 samples per second).
TEST(ToneAnalysis, TheFastPathWritesTheReferencesReportOnTheDemoAndCorpus) {
  std::vector<std::string> recordings = {TONEPRINT_SOURCE_DIR "/demo/demo.wav"};
  for (const auto& entry :
       std::filesystem::directory_iterator(TONEPRINT_SOURCE_DIR "/tests/corpus/files")) {
    if (entry.path().filename().string().ends_with("_tone.wav")) {
      recordings.push_back(entry.path().string());
    }
  }
  ASSERT_GE(recordings.size(), 7u);
  EXPECT_GE(expect_fast_path_matches_reference(recordings), recordings.size());
}

// Tones made here at every common rate from 8000 to 96000.
TEST(ToneAnalysis, TheFastPathWritesTheReferencesReportAtEveryCommonRate) {
  std::vector<std::string> recordings;
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
  EXPECT_GE(expect_fast_path_matches_reference(recordings), recordings.size());
}

// The benchmarks' long session: 120 tones at 48000.
TEST(ToneAnalysis, TheFastPathWritesTheReferencesReportOnTheLongSession) {
  const test::TempDir dir;
  const std::string session = dir.file("long-session.wav");
  ASSERT_TRUE(bench::write_long_session(session));
  EXPECT_GE(expect_fast_path_matches_reference({session}), 120u);
}
