// Replays the corpus of malformed and unusual recordings that
// tests/corpus/make_corpus.py writes: every NAME.wav is opened, read and
// analysed in-process and checked against NAME.expected (the format is
// described at the top of the script), then run through the real program
// with typed answers piped in. On every file:
// - the run ends (CTest's timeout catches a hang);
// - the samples delivered are exactly those of the data chunk;
// - no single allocation during the open, the reads and the analysis is
//   larger than allocation_bound(file size), so none can follow a size that a
//   header declares beyond what the file holds;
// - the file's bytes are the same after the runs as before;
// - the real program either writes a complete report (the header, one line
//   per tone, a line break at the end) or refuses the format (exit status 1,
//   an empty report), or refuses to open the file.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/analysis_settings.h"
#include "analysis/report.h"
#include "analysis/tone_analysis.h"
#include "app/console.h"
#include "app/format_check.h"
#include "riff/wave_file.h"
#include "support/capture_file.h"
#include "support/program_run.h"
#include "support/temp_dir.h"

#if defined(_WIN32)
#include <malloc.h>
#endif

// ------------------------------------------------ the counting allocator

// Every form of the global operator new and delete is replaced in this test
// program, so that an AllocationWatch sees the size of each block asked for.
// The blocks come from malloc, which the address sanitizer still guards when
// it is built in.

namespace {

std::atomic<bool> watching_allocations{false};
std::atomic<std::size_t> largest_allocation{0};

void note_allocation(std::size_t size) noexcept {
  if (!watching_allocations.load(std::memory_order_relaxed)) return;
  std::size_t seen = largest_allocation.load(std::memory_order_relaxed);
  while (size > seen && !largest_allocation.compare_exchange_weak(seen, size)) {
  }
}

void* allocate(std::size_t size) noexcept {
  note_allocation(size);
  return std::malloc(size == 0 ? 1 : size);
}

void* allocate(std::size_t size, std::align_val_t alignment) noexcept {
  note_allocation(size);
  const auto align = static_cast<std::size_t>(alignment);
  if (size > SIZE_MAX - align) return nullptr;
  const std::size_t rounded = (std::max<std::size_t>(size, 1) + align - 1) / align * align;
#if defined(_WIN32)
  return _aligned_malloc(rounded, align);
#else
  return std::aligned_alloc(align, rounded);
#endif
}

void release(void* block) noexcept { std::free(block); }

void release(void* block, std::align_val_t) noexcept {
#if defined(_WIN32)
  _aligned_free(block);
#else
  std::free(block);
#endif
}

void* allocate_or_throw(std::size_t size) {
  if (void* block = allocate(size)) return block;
  throw std::bad_alloc();
}

void* allocate_or_throw(std::size_t size, std::align_val_t alignment) {
  if (void* block = allocate(size, alignment)) return block;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) { return allocate_or_throw(n); }
void* operator new[](std::size_t n) { return allocate_or_throw(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return allocate_or_throw(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocate_or_throw(n, a); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(n, a);
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t a) noexcept { release(p, a); }
void operator delete[](void* p, std::align_val_t a) noexcept { release(p, a); }
void operator delete(void* p, std::size_t, std::align_val_t a) noexcept { release(p, a); }
void operator delete[](void* p, std::size_t, std::align_val_t a) noexcept { release(p, a); }
void operator delete(void* p, std::align_val_t a, const std::nothrow_t&) noexcept { release(p, a); }
void operator delete[](void* p, std::align_val_t a, const std::nothrow_t&) noexcept {
  release(p, a);
}

namespace toneprint {
namespace {

// The analysis's own needs are fixed by its settings, not by the file: its
// largest blocks are the FFT work arrays and the pitch block, at most
// 9216 doubles (72 KiB) with the defaults, well inside 1 MiB. The 16 bytes
// per byte of file leave room for any design that keeps the samples in
// memory (8 bytes of double per 2-byte sample is 4 per byte). A size taken
// from a header, up to 4 GiB, lies far beyond either.
std::size_t allocation_bound(std::uintmax_t file_size) {
  return (std::size_t{1} << 20) + 16 * static_cast<std::size_t>(file_size);
}

// Records the largest single allocation made while it lives.
class AllocationWatch {
 public:
  AllocationWatch() {
    largest_allocation = 0;
    watching_allocations = true;
  }
  ~AllocationWatch() { watching_allocations = false; }
  AllocationWatch(const AllocationWatch&) = delete;
  AllocationWatch& operator=(const AllocationWatch&) = delete;
  std::size_t largest() const { return largest_allocation; }
};

// ------------------------------------------------------ the corpus files

std::string corpus_file(const std::string& name, const char* extension) {
  return (std::filesystem::path(TONEPRINT_CORPUS_DIR) / (name + extension)).string();
}

// The stems of the folder's files with this extension, sorted.
std::vector<std::string> corpus_names(const char* extension) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(TONEPRINT_CORPUS_DIR, error)) {
    if (entry.path().extension() == extension) names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// 64-bit FNV-1a of a file's bytes.
std::uint64_t checksum(const std::string& path) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : test::read_bytes(path)) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  }
  return hash;
}

constexpr const char* mono_refusal = "\nError: the input wave file must be mono (1 channel).\n";
constexpr const char* sixteen_bit_refusal =
    "\nError: the input wave file must have 16-bit samples.\n";
constexpr const char* too_short_line = "Tone too short to measure";

// What NAME.expected says about a file.
struct ToneLine {
  bool measured = false;  // false: "Tone too short to measure"
  double frequency = 0.0;
  double tolerance = 0.0;
  bool has_amplitude = false;
  double amplitude = 0.0;  // Max Fundamental Amplitude
  double amplitude_tolerance = 0.0;
};

struct Expected {
  std::string open;  // "ok", or the message of the failed open
  std::size_t sample_count = 0;
  int first_sample = 0;
  int last_sample = 0;
  std::string refusal;  // the format check's console text; empty if accepted
  std::size_t tones = 0;
  std::vector<ToneLine> lines;
};

Expected read_expected(const std::string& name) {
  Expected expected;
  std::ifstream in(corpus_file(name, ".expected"));
  EXPECT_TRUE(in.is_open()) << name << ".expected is missing";
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t colon = line.find(": ");
    const std::string key = line.substr(0, colon);
    const std::string value = colon == std::string::npos ? "" : line.substr(colon + 2);
    std::istringstream words(value);
    bool readable = true;
    if (key == "open") {
      expected.open = value;
    } else if (key == "samples") {
      words >> expected.sample_count;
      if (expected.sample_count > 0) words >> expected.first_sample >> expected.last_sample;
      readable = !words.fail();
    } else if (key == "console") {
      std::string word;
      readable = words >> word && word == "refused";
      while (words >> word) {
        readable = readable && (word == "mono" || word == "16-bit");
        expected.refusal += word == "mono" ? mono_refusal : sixteen_bit_refusal;
      }
      readable = readable && !expected.refusal.empty();
    } else if (key == "tones") {
      readable = static_cast<bool>(words >> expected.tones);
    } else if (key == "frequency") {
      ToneLine tone;
      tone.measured = value != "short";
      if (tone.measured) readable = static_cast<bool>(words >> tone.frequency >> tone.tolerance);
      expected.lines.push_back(tone);
    } else if (key == "amplitude") {
      ToneLine* tone = expected.lines.empty() ? nullptr : &expected.lines.back();
      readable = tone != nullptr && tone->measured &&
                 words >> tone->amplitude >> tone->amplitude_tolerance;
      if (tone != nullptr) tone->has_amplitude = true;
    } else {
      readable = false;
    }
    EXPECT_TRUE(readable) << name << ".expected: unreadable line \"" << line << "\"";
  }
  EXPECT_FALSE(expected.open.empty()) << name << ".expected has no open line";
  EXPECT_EQ(expected.lines.size(), expected.tones) << name << ".expected: one frequency per tone";
  return expected;
}

// The report header with the default settings, as a user reads it.
std::string default_header() {
  std::string header = "Frequency, Max Fundamental Amplitude";
  for (std::uint32_t k = 0; k <= AnalysisSettings{}.harmonic_count; ++k) {
    header += ", Harmonic " + std::to_string(k);
  }
  return header + "\n";
}

// A complete report: the header, then one line per expected tone, each
// ending in a line break; measured lines have every column and the expected
// frequency and amplitude.
void check_report(const std::string& report, const Expected& expected) {
  ASSERT_FALSE(report.empty());
  EXPECT_EQ(report.back(), '\n') << "the last line is cut off";
  std::istringstream in(report);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line + "\n", default_header());
  std::vector<std::string> lines;
  while (std::getline(in, line)) lines.push_back(line);
  ASSERT_EQ(lines.size(), expected.tones) << report;
  const auto commas = static_cast<std::ptrdiff_t>(AnalysisSettings{}.harmonic_count) + 2;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ToneLine& tone = expected.lines[i];
    if (!tone.measured) {
      EXPECT_EQ(lines[i], too_short_line) << "tone " << i + 1;
      continue;
    }
    EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ','), commas) << lines[i];
    EXPECT_NEAR(std::strtod(lines[i].c_str(), nullptr), tone.frequency, tone.tolerance)
        << "tone " << i + 1 << ": " << lines[i];
    if (tone.has_amplitude) {
      const char* amplitude = lines[i].c_str() + lines[i].find(',') + 1;
      EXPECT_NEAR(std::strtod(amplitude, nullptr), tone.amplitude, tone.amplitude_tolerance)
          << "tone " << i + 1 << ": " << lines[i];
    }
  }
}

// ----------------------------------------------------------- the replay

class Corpus : public ::testing::TestWithParam<std::string> {
 protected:
  const std::string& name() const { return GetParam(); }
  std::string recording() const { return corpus_file(name(), ".wav"); }
};

TEST_P(Corpus, OpensReadsAndAnalysesAsExpected) {
  const Expected expected = read_expected(name());
  const std::string path = recording();
  const std::uintmax_t size = std::filesystem::file_size(path);
  const std::uint64_t before = checksum(path);

  test::CaptureFile report;
  ScriptedConsole console;
  std::string open_result;
  std::size_t count = 0;
  int first = 0;
  int last = 0;
  bool reopened = true;
  bool accepted = false;
  std::size_t largest = 0;
  {
    AllocationWatch watch;
    WaveFile wave;
    const bool opened = wave.open_read(path.c_str());
    open_result = opened ? "ok" : wave.error() != nullptr ? wave.error() : "(no message)";
    if (opened) {
      for (std::int16_t sample = 0; wave.read_sample(sample); ++count) {
        if (count == 0) first = sample;
        last = sample;
      }
      // The analysis starts from the first sample again, as in a real run.
      reopened = wave.open_read(path.c_str());
      accepted = reopened && check_input_format(wave, console);
      if (accepted) {
        AnalysisSettings settings;
        set_default_settings(settings, wave.sample_rate());
        write_report_header(report.get(), settings);
        analyse_tones(wave, settings, report.get(), console);
      }
    }
    largest = watch.largest();
  }

  ASSERT_EQ(open_result, expected.open);
  EXPECT_EQ(checksum(path), before) << "the recording was changed";
  EXPECT_LT(largest, allocation_bound(size)) << "largest single allocation, file of " << size;
  RecordProperty("largest_allocation", std::to_string(largest));
  if (expected.open != "ok") return;

  EXPECT_EQ(count, expected.sample_count);
  if (expected.sample_count > 0 && count > 0) {
    EXPECT_EQ(first, expected.first_sample) << "first sample";
    EXPECT_EQ(last, expected.last_sample) << "last sample";
  }
  ASSERT_TRUE(reopened);
  if (!expected.refusal.empty()) {
    EXPECT_FALSE(accepted);
    EXPECT_EQ(console.output(), expected.refusal);
    return;
  }
  ASSERT_TRUE(accepted) << console.output();
  check_report(report.text(), expected);
}

TEST_P(Corpus, RealProgramRunsToTheEndAndLeavesTheRecordingAlone) {
  const Expected expected = read_expected(name());
  const std::string path = recording();
  const std::uint64_t before = checksum(path);

  // The path, then (if the file opens) the report, "no" for the settings
  // and Enter at the end; a file that cannot be opened gets the end of the
  // input at the second open dialog, which cancels the run.
  test::TempDir dir;
  const std::string report = dir.file("report.txt");
  const bool opens = expected.open == "ok";
  const std::string answers = opens ? path + "\n" + report + "\nno\n\n" : path + "\n";
  const std::string input = dir.write("answers.txt", answers);
  const std::string output = dir.file("console.txt");
  const test::ProgramRun run = test::run_program_file(TONEPRINT_BINARY, "", input, output);
  const int status = run.status;
  const std::string& console = run.console;

  EXPECT_EQ(checksum(path), before) << "the recording was changed";
  if (!opens) {
    EXPECT_EQ(status, 0) << console;
    EXPECT_NE(console.find("\nError: The selected file could not be opened as a wave file.\n"),
              std::string::npos)
        << console;
    EXPECT_FALSE(std::filesystem::exists(report));
  } else if (!expected.refusal.empty()) {
    EXPECT_EQ(status, 1) << console;
    EXPECT_NE(console.find(expected.refusal + "Press <Enter> to quit.\n"), std::string::npos)
        << console;
    ASSERT_TRUE(std::filesystem::exists(report));
    EXPECT_EQ(std::filesystem::file_size(report), 0u);
  } else {
    EXPECT_EQ(status, 0) << console;
    EXPECT_TRUE(console.ends_with("Press <Enter> when done viewing output.\n")) << console;
    check_report(test::read_text(report), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus, ::testing::ValuesIn(corpus_names(".wav")),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

TEST(CorpusFolder, EveryRecordingHasItsExpectedOutcome) {
  const std::vector<std::string> recordings = corpus_names(".wav");
  EXPECT_GE(recordings.size(), 40u) << "corpus folder " << TONEPRINT_CORPUS_DIR;
  EXPECT_EQ(recordings, corpus_names(".expected"));
}

}  // namespace
}  // namespace toneprint
