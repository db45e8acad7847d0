// The real program, run with typed answers piped in, as a user would.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/program_run.h"
#include "support/riff_builder.h"
#include "support/temp_dir.h"
#include "support/tone_recipe.h"

namespace toneprint {
namespace {

constexpr const char* open_prompt = "Select the recorded sample (path of a .wav file): ";
constexpr const char* settings_question =
    "\nDo you wish to modify the default settings? (Type yes or no then press <Enter>) ";
constexpr const char* final_prompt = "Press <Enter> when done viewing output.\n";

std::string save_prompt(const std::string& proposed) {
  return "Enter a filename for the output [" + proposed + "]: ";
}

class EndToEnd : public ::testing::Test {
 protected:
  // Runs toneprint with `input` as its standard input.
  // Each run has files of its own, so that none waits for the last run's
  // files to be let go.
  test::ProgramRun run(const std::string& input, const std::string& arguments = "") {
    const std::string n = std::to_string(++runs_);
    return test::run_program_file(TONEPRINT_BINARY, arguments,
                                  dir_.write("input" + n + ".txt", input),
                                  dir_.file("console" + n + ".txt"));
  }

  // Two held tones with silence after each: A4 and C4, six harmonics each.
  std::string two_tone_recording() {
    std::vector<std::int16_t> samples;
    for (const double f0 : {440.0, 261.63}) {
      const test::ToneRecipe tone = {f0,
                                     {{1, 9000, 0.3},
                                      {2, 4500, 1.0},
                                      {3, 3000, 2.0},
                                      {4, 2000, -1.0},
                                      {5, 1000, 0.5},
                                      {6, 500, 2.5}}};
      for (const double v : test::synthesise(tone, 44100, 66150)) {
        samples.push_back(static_cast<std::int16_t>(v));
      }
      samples.insert(samples.end(), 30000, 0);
    }
    return dir_.write("two tones.wav", test::mono16_wave(samples));
  }

  test::TempDir dir_;
  int runs_ = 0;
};

// Reads "f, max, a0, a1, ..." from a report line.
std::vector<double> numbers(const std::string& line) {
  std::vector<double> values;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, ',');) values.push_back(std::stod(field));
  return values;
}

TEST_F(EndToEnd, FullRunWithTheDefaults) {
  const std::string recording = two_tone_recording();
  const std::string report = dir_.file("report.txt");
  const test::ProgramRun result = run(recording + "\n" + report + "\nno\n\n");
  EXPECT_EQ(result.status, 0);

  const std::string before_analysis =
      std::string(open_prompt) + save_prompt("two tones") + settings_question;
  ASSERT_EQ(result.console.substr(0, before_analysis.size()), before_analysis);
  std::istringstream lines(result.console.substr(before_analysis.size()));
  std::map<std::string, int> passes;
  std::string last;
  for (std::string line; std::getline(lines, line);) {
    ++passes[line];
    last = line;
  }
  EXPECT_EQ(last + "\n", final_prompt);
  EXPECT_GE(passes["Detected tone at 440.00 Hz"], 3);
  EXPECT_GE(passes["Detected tone at 261.63 Hz"], 3);
  EXPECT_EQ(passes.size(), 3u) << result.console;

  // The report is a text file: its lines end as the platform's text files do.
  const std::string bytes = test::read_bytes(report);
#if defined(_WIN32)
  EXPECT_EQ(bytes.find("\n"), bytes.find("\r\n") + 1) << "lines end in CR LF";
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\r'), 3);
#else
  EXPECT_EQ(bytes.find('\r'), std::string::npos) << "lines end in LF alone";
#endif
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 3);

  std::istringstream text(test::read_text(report));
  std::string header, first, second, extra;
  std::getline(text, header);
  std::getline(text, first);
  std::getline(text, second);
  EXPECT_FALSE(std::getline(text, extra));
  EXPECT_EQ(header,
            "Frequency, Max Fundamental Amplitude, Harmonic 0, Harmonic 1, Harmonic 2, Harmonic 3, "
            "Harmonic 4, Harmonic 5, Harmonic 6, Harmonic 7, Harmonic 8, Harmonic 9, Harmonic 10");
  const double levels[] = {9000, 4500, 3000, 2000, 1000, 500, 0, 0, 0, 0, 0};
  for (const auto& [line, f0] : {std::pair{first, 440.0}, std::pair{second, 261.63}}) {
    const std::vector<double> values = numbers(line);
    ASSERT_EQ(values.size(), 13u) << line;
    EXPECT_NEAR(values[0], f0, 0.002) << line;
    EXPECT_NEAR(values[1], 9000, 9) << line;
    for (int k = 0; k < 11; ++k) {
      EXPECT_NEAR(values[2 + k], levels[k], 0.001 * 9000) << "harmonic " << k << ": " << line;
    }
  }
}

TEST_F(EndToEnd, ChangedSettingsShapeTheReport) {
  const std::string recording = two_tone_recording();
  const std::string report = dir_.file("report");
  // Three harmonics and a minimum tone of 0.5 s; then the advanced group
  // with a peak count of 3 and the rest kept.
  const test::ProgramRun result =
      run(recording + "\n" + report + "\nyes\n3\n0.5\n\n\ny\n\n\n\n\n\n\n\n3\n\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.console.find("\nEnter the number of peaks to consider when searching for the "
                                "fundamental\n(Minimum = 1, Maximum = 20, Default = 5): "),
            std::string::npos);
  const std::string text = test::read_text(report + ".txt");
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "Frequency, Max Fundamental Amplitude, Harmonic 0, Harmonic 1, Harmonic 2, Harmonic 3");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
}

TEST_F(EndToEnd, StereoEightBitRecordingIsRefused) {
  const std::string stereo = dir_.write(
      "stereo.wav",
      test::riff("WAVE",
                 test::chunk("fmt ", test::format_fields(test::Format().channels(2).bits(8))) +
                     test::chunk("data", "\x80\x80\x80\x80")));
  const std::string report = dir_.file("stereo.txt");
  const test::ProgramRun result = run(stereo + "\n" + report + "\n\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.console, std::string(open_prompt) + save_prompt("stereo") +
                                "\nError: the input wave file must be mono (1 channel).\n"
                                "\nError: the input wave file must have 16-bit samples.\n"
                                "Press <Enter> to quit.\n");
  ASSERT_TRUE(std::filesystem::exists(report));
  EXPECT_EQ(std::filesystem::file_size(report), 0u);
}

TEST_F(EndToEnd, CancellingADialogEndsTheRunQuietly) {
  EXPECT_EQ(run("\n").console, open_prompt);
  EXPECT_EQ(run("\n").status, 0);
  EXPECT_EQ(run("").status, 0);

  const std::string recording = two_tone_recording();
  const test::ProgramRun save_cancelled = run(recording + "\n");
  EXPECT_EQ(save_cancelled.status, 0);
  EXPECT_EQ(save_cancelled.console, std::string(open_prompt) + save_prompt("two tones"));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("two tones.txt")));
}

TEST_F(EndToEnd, NotAWaveFileThenAGoodOne) {
  const std::string text = dir_.write("notes.wav", "not a recording");
  const std::string recording = two_tone_recording();
  const test::ProgramRun result =
      run(text + "\n" + recording + "\n" + dir_.file("r.txt") + "\nno\n\n");
  EXPECT_EQ(result.status, 0);
  const std::string expected = std::string(open_prompt) +
                               "\nError: The selected file could not be opened as a wave file.\n" +
                               open_prompt + save_prompt("two tones");
  EXPECT_EQ(result.console.substr(0, expected.size()), expected);
}

TEST_F(EndToEnd, TheRecordingIsNotOverwrittenByItsReport) {
  const std::string recording = two_tone_recording();
  const std::string before = test::read_bytes(recording);
  // Named as the report, the recording exists: the replacement is
  // confirmed, and still refused.
  const test::ProgramRun result =
      run(recording + "\n" + recording + "\nyes\n" + dir_.file("r.txt") + "\nno\n\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.console.find("\nError: The selected file could not be opened for output.\n"),
            std::string::npos);
  EXPECT_EQ(test::read_bytes(recording), before);
  EXPECT_TRUE(std::filesystem::exists(dir_.file("r.txt")));
}

TEST_F(EndToEnd, ArgumentsAreIgnoredAndAnEarlyEndOfInputKeepsTheDefaults) {
  const std::string recording = two_tone_recording();
  const test::ProgramRun plain = run(recording + "\n" + dir_.file("a.txt") + "\n");
  const std::string report_a = test::read_text(dir_.file("a.txt"));
  const test::ProgramRun with_arguments =
      run(recording + "\n" + dir_.file("c.txt") + "\n", "--help -x \"" + dir_.file("b.txt") + "\"");
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(with_arguments.status, 0);
  EXPECT_EQ(plain.console, with_arguments.console);
  EXPECT_EQ(test::read_text(dir_.file("c.txt")), report_a);
  EXPECT_FALSE(std::filesystem::exists(dir_.file("b.txt")));
  EXPECT_EQ(std::count(report_a.begin(), report_a.end(), '\n'), 3);
}

TEST_F(EndToEnd, ReportThatCannotBeWrittenIsAFailure) {
#if !defined(__linux__)
  GTEST_SKIP() << "needs /dev/full, a device that refuses every write, which only Linux has";
#else
  // /dev/full accepts the open and refuses every write, as a full disk does;
  // a link to it gives the report name its extension.
  const std::string recording = two_tone_recording();
  const std::string full = dir_.file("full.txt");
  std::filesystem::create_symlink("/dev/full", full);
  const test::ProgramRun result = run(recording + "\n" + full + "\nyes\nno\n\n");
  EXPECT_EQ(result.status, 1);
  const std::string ending =
      "\nError: the report file could not be written completely.\n" + std::string(final_prompt);
  ASSERT_GE(result.console.size(), ending.size());
  EXPECT_EQ(result.console.substr(result.console.size() - ending.size()), ending);
#endif
}

}  // namespace
}  // namespace toneprint
