// Replays the corpus of malformed and unusual recordings that
// tests/corpus/make_corpus.py writes: every NAME.wav is opened, read, checked
// and analysed as the program does it, and the outcome is compared with its
// line of expected.txt (the format is described at the top of the script).
// On every file:
// - the run ends (CTest's timeout catches a hang);
// - the open succeeds, or fails with exactly the expected message;
// - the samples delivered are exactly those of the data chunk;
// - no single allocation during the open, the reads and the analysis is
//   larger than 1 MiB + 16 bytes per byte of file, so none can follow a size
//   that a header declares beyond what the file holds;
// - the file's bytes are the same afterwards;
// - a recording that is not mono 16-bit gets exactly the format check's
//   refusal; any other recording that opens gets a complete report (the
//   header, one line per tone, a line break at the end).
// What the program does around these steps, with any recording, is run end
// to end in tests/app/end_to_end_test.cpp.

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <regex>
#include <sstream>

#include "classic/classic_report.h"
#include "classic/wave_analysis.h"
#include "app/format_check.h"
#include "support/test_support.h"

// The plain, array, nothrow and sized forms of the global operator new and
// delete are replaced in this test program, so that the largest block asked
// for while `watching` is seen. The blocks come from malloc, which the
// address sanitizer still guards when it is built in. The aligned forms stay
// the library's own, which pair with each other; the reader and the analysis
// ask for no over-aligned block.
static std::atomic<bool> watching{false};
static std::atomic<std::size_t> largest_allocation{0};

static void* allocate(std::size_t size, bool or_throw) {
  // A failed exchange brings `seen` up to date.
  for (std::size_t seen = largest_allocation; watching && size > seen;)
    largest_allocation.compare_exchange_weak(seen, size);
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr && or_throw) throw std::bad_alloc();
  return block;
}

void* operator new(std::size_t n) { return allocate(n, true); }
void* operator new[](std::size_t n) { return allocate(n, true); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n, false); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n, false); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

using namespace toneprint;

const std::string mono_refusal = "\nError: the input wave file must be mono (1 channel).\n";
const std::string sixteen_bit_refusal = "\nError: the input wave file must have 16-bit samples.\n";

// An outcome in expected.txt (make_corpus.py describes the form): 1 the
// open's result ("ok" and the count, first and last sample, or the message of
// a failed open), 2 and 3 the refusal's reasons, 4 the tones.
const std::string outcome_form =
    R"((ok -?\d+ -?\d+ -?\d+|.+?)(?: refused( mono)?( 16-bit)?| tones(.*))?)";

// The stems of the folder's .wav files, sorted.
static std::vector<std::string> recordings() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(TONEPRINT_CORPUS_DIR, error)) {
    if (entry.path().extension() == ".wav") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A complete report: the header with the default settings, then a line per
// expected tone ("short" or a frequency), each ending in a line break; a
// measured line has every column, the frequency and the sine's peak 12000 as
// its amplitude.
static void check_report(const std::string& report, const std::string& tones) {
  const std::string header =
      "Frequency, Max Fundamental Amplitude, Harmonic 0, Harmonic 1, Harmonic 2, Harmonic 3, "
      "Harmonic 4, Harmonic 5, Harmonic 6, Harmonic 7, Harmonic 8, Harmonic 9, Harmonic 10";
  std::istringstream in(report), expected(tones);
  std::string line;
  EXPECT_TRUE(std::getline(in, line) && line == header) << report;
  EXPECT_TRUE(report.ends_with('\n')) << "the last line is cut off: " << report;
  for (std::string tone; expected >> tone;) {
    ASSERT_TRUE(std::getline(in, line)) << "no line for the tone at " << tone << ": " << report;
    if (tone == "short") {
      EXPECT_EQ(line, "Tone too short to measure");
    } else {
      EXPECT_EQ(std::count(line.begin(), line.end(), ','), 12) << line;
      EXPECT_NEAR(std::strtod(line.c_str(), nullptr), std::stod(tone), 0.05) << line;
      EXPECT_NEAR(std::strtod(line.c_str() + line.find(',') + 1, nullptr), 12000, 12) << line;
    }
  }
  EXPECT_FALSE(std::getline(in, line)) << "more lines than tones: " << report;
}

class Corpus : public ::testing::TestWithParam<std::string> {};

TEST_P(Corpus, OpensReadsAndAnalysesAsItsLayoutSays) {
  static const std::string table = test::read_file(TONEPRINT_CORPUS_DIR "/expected.txt");
  const std::regex line("(?:^|\n)" + GetParam() + ": " + outcome_form + "\n");
  std::smatch expected;
  ASSERT_TRUE(std::regex_search(table, expected, line)) << "no line for it in expected.txt";
  const std::string refusal =
      (expected[2].matched ? mono_refusal : "") + (expected[3].matched ? sixteen_bit_refusal : "");
  const std::string path = TONEPRINT_CORPUS_DIR "/" + GetParam() + ".wav";
  const std::string bytes = test::read_file(path, true);

  // In-process: the reads from a fresh open, then the format check and a
  // default-settings analysis from the first sample again, as in a run.
  std::FILE* const report = std::tmpfile();
  ScriptedConsole format_console, analysis_console;
  largest_allocation = 0;
  watching = true;
  WaveFile wave;
  const bool opened = wave.open_read(path.c_str());
  // Kept here, the samples add blocks of at most 4 bytes per byte of file.
  std::vector<std::int16_t> got;
  for (std::int16_t sample = 0; opened && wave.read_sample(sample);) got.push_back(sample);
  const bool accepted =
      opened && wave.open_read(path.c_str()) && check_input_format(wave, format_console);
  AnalysisSettings settings;
  set_default_settings(settings, wave.sample_rate());
  if (accepted) write_report_header(report, settings);
  if (accepted) analyse_tones(wave, settings, report, analysis_console);
  watching = false;
  // The bound on a single allocation, 1 MiB + 16 bytes per byte of file: the
  // analysis's own needs are fixed by its settings, not by the file; its
  // largest blocks are the FFT work arrays and the pitch block, at most 9216
  // doubles (72 KiB) with the defaults, well inside 1 MiB. The 16 bytes per
  // byte of file leave room for any design that keeps the samples in memory
  // (8 bytes of double per 2-byte sample is 4 per byte). A size taken from a
  // header, up to 4 GiB, lies far beyond either.
  EXPECT_LT(largest_allocation.load(), (1u << 20) + 16 * bytes.size()) << "largest allocation";
  const std::string read = "ok " + std::to_string(got.size()) + " " +
                           std::to_string(got.empty() ? 0 : got.front()) + " " +
                           std::to_string(got.empty() ? 0 : got.back());
  EXPECT_EQ(opened ? read : wave.error() ? wave.error() : "(no message)", expected[1].str());
  EXPECT_EQ(format_console.output(), refusal);
  const std::string written = test::contents_of(report);
  if (accepted) check_report(written, expected[4]);

  // The batch program reads every file safely too, and its classic report
  // of a file the interactive program analysed is that program's report
  // (it refuses a sample rate of 0, at which no tone has a time).
  const test::TempDir dir;
  const std::string classic = dir.file("classic");
  const test::ProgramRun batch =
      test::run_program(TONEPRINT_BATCH_BINARY, "-f classic -o " + classic + " " + path,
                        dir.write("input", ""), dir.file("output"));
  if (accepted && wave.sample_rate() != 0) {
    EXPECT_EQ(test::read_file(classic), written) << "toneprint-batch -f classic";
  } else {
    EXPECT_EQ(batch.status == 0 ? "" : batch.console.substr(0, 17 + path.size()),
              batch.status == 0 ? "" : "toneprint-batch: " + path)
        << batch.console;
  }

  EXPECT_TRUE(test::read_file(path, true) == bytes) << "the recording was changed";
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus, ::testing::ValuesIn(recordings()),
                         [](const auto& info) { return info.param; });

// Each recording's own test fails when expected.txt has no line for it; a
// folder without recordings fails as a parameterised suite with no cases.
