// The real program, run with typed answers piped in, as a user would. With
// its input from a file, it shows its dialogs on the console.

#include <fstream>
#include <regex>

#include "app/console_input.h"
#include "app/file_dialogs.h"
#include "app/program.h"
#include "support/test_support.h"

namespace test = toneprint::test;

TEST(EndToEnd, RunsWithTypedAnswers) {
  const test::TempDir dir;
  // Two held tones, each followed by silence: A4 and C4 with six harmonics,
  // whose frequencies and amplitudes the report gives to its last digit.
  const std::vector<test::Partial> partials = {{1, 9000, 0.3},  {2, 4500, 1.0}, {3, 3000, 2.0},
                                               {4, 2000, -1.0}, {5, 1000, 0.5}, {6, 500, 2.5}};
  std::vector<std::int16_t> samples;
  for (const double f0 : {440.0, 261.63}) {
    const std::vector<double> tone = test::synthesise({f0, partials}, 44100, 66150);
    samples.insert(samples.end(), tone.begin(), tone.end());
    samples.resize(samples.size() + 30000);
  }
  const std::string recording = dir.write("two tones.wav", test::wave(samples));
  const std::string before = test::read_file(recording, true), report = dir.file("report.txt");
  const std::string not_wave = dir.write("notes.wav", "not a recording");
  const std::string stereo = dir.write(
      "stereo.wav", test::riff("WAVE", test::fmt_chunk(2, 44100, 8) + test::chunk("data", "1234")));
  // The recording under other names, and a report that cannot be opened.
  const std::string other_spelling = (dir.path() / "." / "two tones.wav").string();
  std::string linked = dir.file("link.wav"), unwritable = dir.file("no folder/r.txt");
  std::error_code no_links;
  std::filesystem::create_symlink(recording, linked, no_links);
  if (no_links) linked = other_spelling;
  // Printed through a buffer larger than the one a short line takes.
  const std::string missing = dir.file(std::string(300, 'x') + ".wav");
  const auto refused = [](const std::string& name) {
    return "\nError: The selected file could not be opened for output.\n"
           "Enter a filename for the output [" +
           name + "]: ";
  };
  const auto replace_at = [](const std::string& name) {
    return "\n" + name + " exists. Replace it? (yes / no) ";
  };
  const std::string open = "Select the recorded sample (path of a .wav file): ";
  const std::string save = "Enter a filename for the output [two tones]: ";
  const std::string done =
      "Detected tone at 440.00 Hz\nDetected tone at 261.63 Hz\n"
      "Press <Enter> when done viewing output.\n";
  // clang-format off
  // Typed answers, exit status, how the console ends (each tone is detected
  // once per pitch block: runs of equal lines count as one), the report
  // (nullptr: none). In turn: a missing file, a file that is not a recording,
  // then the recording in quotes; the recording as its own report, not
  // replaced, then replaced, which is refused, as it is under another
  // spelling and through a link; a report that cannot be opened; then a name
  // without its extension; the defaults. Three harmonics, then the end of the
  // input, which keeps every other default. A stereo 8-bit recording, which
  // creates no report. Each dialog cancelled.
  std::vector<std::tuple<std::string, int, std::string, const char*>> cases = {
      {missing + "\n" + not_wave + "\n '" + recording + "'\n" + recording + "\nno\n" +
           recording + "\nyes\n" + other_spelling + "\nyes\n" + linked + "\nyes\n" + unwritable +
           "\n" + dir.file("report") + "\nno\n\n", 0,
       open + "\nNo such file: " + missing + "\n" + open +
           "\nError: The selected file could not be opened as a wave file.\n" + open + save +
           replace_at(recording) + save + replace_at(recording) + refused(recording) + replace_at(other_spelling) +
           refused(other_spelling) + replace_at(linked) + refused(linked) + refused(unwritable) +
           "\nDo you wish to modify the default settings? (Type yes or no then press <Enter>) " +
           done,
       "Frequency, Max Fundamental Amplitude, Harmonic 0, Harmonic 1, Harmonic 2, Harmonic 3, "
       "Harmonic 4, Harmonic 5, Harmonic 6, Harmonic 7, Harmonic 8, Harmonic 9, Harmonic 10\n"
       "440.000, 9000.0, 9000.0, 4500.0, 3000.0, 2000.0, 1000.0, 500.0, 0.0, 0.0, 0.0, 0.0, 0.0\n"
       "261.630, 9000.0, 9000.0, 4500.0, 3000.0, 2000.0, 1000.0, 500.0, 0.0, 0.0, 0.0, 0.0, 0.0\n"},
      {recording + "\n" + report + "\nyes\n3\n", 0, "(yes / no) " + done,
       "Frequency, Max Fundamental Amplitude, Harmonic 0, Harmonic 1, Harmonic 2, Harmonic 3\n"
       "440.000, 9000.0, 9000.0, 4500.0, 3000.0, 2000.0\n"
       "261.630, 9000.0, 9000.0, 4500.0, 3000.0, 2000.0\n"},
      {stereo + "\n" + report + "\n\n", 1, open + "Enter a filename for the output [stereo]: " +
       "\nError: the input wave file must be mono (1 channel).\n"
       "\nError: the input wave file must have 16-bit samples.\nPress <Enter> to quit.\n", nullptr},
      {"\n", 0, open, nullptr}, {"", 0, open, nullptr}, {recording, 0, open + save, nullptr}};
  // clang-format on
#if defined(__linux__)
  // A device that takes the report and refuses every write, as a full disk
  // does; a link to it gives the name its extension.
  std::filesystem::create_symlink("/dev/full", dir.file("full.txt"));
  cases.push_back({recording + "\n" + dir.file("full") + "\nyes\nno\n\n", 1,
                   "Hz\n\nError: the report file could not be written completely.\n"
                   "Press <Enter> when done viewing output.\n",
                   nullptr});
#endif
  int runs = 0;
  for (const auto& [input, status, ending, text] : cases) {
    SCOPED_TRACE(input);
    // Arguments mean nothing to the program. Each run has files of its own.
    const std::string n = std::to_string(++runs);
    const test::ProgramRun run = test::run_program(TONEPRINT_BINARY, "--help -x " + dir.file("x"),
                                                   dir.write("in" + n, input), dir.file("out" + n));
    EXPECT_EQ(run.status, status);
    const std::string console = std::regex_replace(run.console, std::regex("(.+\n)\\1+"), "$1");
    EXPECT_EQ(console.substr(console.size() - std::min(console.size(), ending.size())), ending);
    EXPECT_EQ(test::read_file(recording, true), before);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x")));
    ASSERT_EQ(std::filesystem::exists(report), text != nullptr);
    if (text == nullptr) continue;
#if defined(_WIN32)
    // The report's lines end as text files end them here.
    EXPECT_EQ(test::read_file(report, true), std::regex_replace(text, std::regex("\n"), "\r\n"));
#else
    EXPECT_EQ(test::read_file(report, true), text);
#endif
    std::filesystem::remove(report);
  }
}

TEST(EndToEnd, ARefusedRecordingLeavesTheReportItWouldReplace) {
  const test::TempDir dir;
  const std::string report = dir.write("report.txt", "an earlier report\n");
  // clang-format off
  const std::pair<std::string, const char*> cases[] = {
      {test::fmt_chunk(2), "be mono (1 channel)"}, {test::fmt_chunk(1, 44100, 24), "have 16-bit samples"}};
  // clang-format on
  for (const auto& [format, refusal] : cases) {
    SCOPED_TRACE(refusal);
    const std::string recording =
        dir.write("take.wav", test::riff("WAVE", format + test::chunk("data", "123456789012")));
    const test::ProgramRun run = test::run_program(
        TONEPRINT_BINARY, "", dir.write("in", recording + "\n" + report + "\nyes\n\n"),
        dir.file("out"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.console.find(report +
                               " exists. Replace it? (yes / no) \nError: the input wave "
                               "file must " +
                               refusal + ".\nPress <Enter> to quit.\n"),
              std::string::npos)
        << run.console;
    EXPECT_EQ(test::read_file(report, true), "an earlier report\n");
  }
}

TEST(EndToEnd, ANameOutsideTheCodePageIsAnalysed) {
  // Windows programs reach such a name only with UTF-8 as their code page.
  const test::TempDir dir;
  const std::u8string_view u8name = u8"Grüße_音";
  const std::string name(u8name.begin(), u8name.end());
  const std::filesystem::path folder = dir.path() / "takes";
  std::filesystem::create_directory(folder);
  const std::vector<double> tone = test::synthesise({440, {{1, 9000, 0.0}}}, 44100, 66150);
  std::filesystem::copy_file(dir.write("a.wav", test::wave({tone.begin(), tone.end()})),
                             folder / (std::u8string(u8name) + u8".wav"));
  // toneprint, with the paths typed; toneprint-batch, given the folder.
  const std::string typed =
      folder.string() + "/" + name + ".wav\n" + folder.string() + "/" + name + "\nno\n\n";
  const test::ProgramRun run =
      test::run_program(TONEPRINT_BINARY, "", dir.write("in", typed), dir.file("out"));
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.console.find("Detected tone at 440.00 Hz\n"), std::string::npos) << run.console;
  std::ifstream report(folder / (std::u8string(u8name) + u8".txt"));
  std::string header, line;
  EXPECT_TRUE(std::getline(report, header) && std::getline(report, line));
  EXPECT_EQ(line.substr(0, 23), "440.000, 9000.0, 9000.0");
  const test::ProgramRun batch =
      test::run_program(TONEPRINT_BATCH_BINARY, "-q -f csv \"" + folder.string() + "\"",
                        dir.write("none", ""), dir.file("batch"));
  EXPECT_EQ(batch.status, 0);
  EXPECT_NE(batch.console.find(name + ".wav,1,"), std::string::npos) << batch.console;
}

TEST(EndToEnd, TheRunWaitsForEnterBeforeItEnds) {
  // After a refused recording, and after the report of an accepted one.
  const test::TempDir dir;
  const std::string stereo = test::riff("WAVE", test::fmt_chunk(2) + test::chunk("data", "12"));
  for (const auto& [bytes, status] : {std::pair{stereo, 1}, {test::wave({0, 0}), 0}}) {
    const std::string report = dir.file(std::to_string(status) + ".txt");
    toneprint::ScriptedConsole console(dir.write("r.wav", bytes) + "\n" + report +
                                       (status ? "\n\nnext\n" : "\nno\n\nnext\n"));
    toneprint::ConsoleFileDialogs dialogs(console);
    EXPECT_EQ(toneprint::run_program(console, dialogs), status);
    char rest[8];
    EXPECT_STREQ(toneprint::read_input_line(console, rest, sizeof rest), "next") << status;
  }
}
