// toneprint-batch when things go wrong around it: folders it cannot read,
// threads that cannot start, signals, the output's way to the disk, and
// the lines that tell a person at a terminal what to doubt.

#include "support/test_support.h"

#if !defined(_WIN32)
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#if defined(TONEPRINT_HAVE_SNDFILE)
#include <sndfile.h>
#endif

namespace test = toneprint::test;

namespace {

constexpr std::uint32_t rate = 44100;

// One tone at `f` Hz for `seconds`, with 0.5 s of silence around it.
std::vector<std::int16_t> tone(double f, double seconds) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>((seconds + 1.0) * rate), 0);
  const std::vector<double> wave = test::synthesise(
      {f, {{1, 9000, 0}, {2, 3000, 1}}}, rate, static_cast<std::size_t>(seconds * rate));
  std::copy(wave.begin(), wave.end(), samples.begin() + rate / 2);
  return samples;
}

#if !defined(_WIN32) || defined(TONEPRINT_FAULT_SHIM)
// The names in a folder, hidden ones too (for the interrupted runs and the
// faults, which Windows does not have).
std::vector<std::string> names_in(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
#endif

}  // namespace

// Usage errors name the option and the value as typed, in one style.
TEST(BatchFaults, UsageErrorsSayWhatIsWrongWithTheValue) {
  const test::TempDir dir;
  const std::string good = dir.write("good.wav", test::wave(tone(220, 1)));
  const struct {
    std::string arguments;
    const char* message;
  } cases[] = {
      {"--channel -1 " + good, "toneprint-batch: --channel: -1 is neither a channel number"},
      {"--harmonics 2.5 " + good, "toneprint-batch: --harmonics: 2.5 is not a whole number\n"},
      {"--threshold 0 " + good, "toneprint-batch: --threshold: 0 is not within 1 to 10000\n"},
      {"--harmonic 3 " + good,
       "toneprint-batch: unknown option --harmonic; did you mean --harmonics?\n"},
      {"--tail-depth 30 " + good, "toneprint-batch: --tail-depth needs --follow-tail"},
      {"-f csv -o " + dir.file("r.html") + " " + good, "--format csv contradicts the output"},
      {"--harmonics", "toneprint-batch: --harmonics needs a value\n"},
      {"--partials -f classic " + good, "--partials cannot go in --format classic"},
      {"--expect C4 -f classic " + good, "--stretch cannot go in --format classic"},
      {"--expect C4,H4 " + good, "--expect: entry 2: \"H4\" is not a note"},
      {"--expect @" + dir.file("none.txt") + " " + good, "toneprint-batch: --expect: "},
      {"--temperament meantone " + good, "--temperament: "},
      {"--temperament-root H " + good, "--temperament-root: H is not a note name"},
      {"--stretch 60 " + good, "toneprint-batch: --stretch: 60 is not within -50 to 50\n"},
      {"-f partials-csv -o " + dir.file("r.json") + " " + good,
       "--format partials-csv contradicts the output's name"},
  };
  for (const auto& c : cases) {
    const test::ProgramRun run = test::run_program(TONEPRINT_BATCH_BINARY, c.arguments,
                                                   dir.write("input", ""), dir.file("console"));
    EXPECT_EQ(run.status, 2) << c.arguments << "\n" << run.console;
    EXPECT_NE(run.console.find(c.message), std::string::npos) << c.arguments << "\n"
                                                             << run.console;
  }
  // Without -f the output's extension chooses the format.
  const std::string page = dir.file("r.html");
  const test::ProgramRun run = test::run_program(TONEPRINT_BATCH_BINARY, "-q -o " + page + " " + good,
                                                 dir.write("input", ""), dir.file("console"));
  EXPECT_EQ(run.status, 0) << run.console;
  EXPECT_EQ(test::read_file(page).rfind("<!DOCTYPE html>", 0), 0u);
}

// -r takes subfolders, and a folder takes every extension libsndfile reads.
TEST(BatchFaults, RecursiveFoldersAndLibsndfilesExtensions) {
#if !defined(TONEPRINT_HAVE_SNDFILE)
  GTEST_SKIP() << "built without libsndfile";
#else
  const test::TempDir dir;
  std::filesystem::create_directories(dir.file("takes/inner"));
  const std::vector<std::int16_t> samples = tone(220, 1);
  for (const auto& [name, format] : {std::pair{"takes/a.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16},
                                     std::pair{"takes/inner/b.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16}}) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    SNDFILE* file = sf_open(dir.file(name).c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << name;
    sf_writef_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
  }
  const struct {
    const char* option;
    bool inner;
  } cases[] = {{"", false}, {"-r ", true}};
  for (const auto& c : cases) {
    const test::ProgramRun run =
        test::run_program(TONEPRINT_BATCH_BINARY, std::string("-q ") + c.option + dir.file("takes"),
                          dir.write("input", ""), dir.file("console"));
    EXPECT_EQ(run.status, 0) << run.console;
    EXPECT_NE(run.console.find("a.w64,1,"), std::string::npos) << run.console;
    EXPECT_EQ(run.console.find("b.caf,1,") != std::string::npos, c.inner) << run.console;
  }
#endif
}

// Tones that look measured but are doubtful get a line each kind, even
// with -q: too short, passes far apart, passes that failed.
TEST(BatchFaults, DoubtfulResultsGetALineOnStandardError) {
  const test::TempDir dir;
  // 0.3 s: shorter than the attack skip and one pass.
  const std::string short_tone = dir.write("short.wav", test::wave(tone(220, 0.3)));
  // 440 Hz straight on into 660 Hz: one tone whose passes disagree.
  std::vector<std::int16_t> legato = tone(440, 1.5);
  const std::vector<double> high =
      test::synthesise({660, {{1, 9000, 0}, {2, 3000, 1}}}, rate, rate);
  std::copy(high.begin(), high.end(), legato.begin() + rate / 2 + rate);
  const std::string legato_file = dir.write("legato.wav", test::wave(legato));
  const std::string clean = dir.write("clean.wav", test::wave(tone(220, 1.5)));
  const struct {
    std::string file;
    const char* line;  // null: no line at all
  } cases[] = {
      {short_tone, "short.wav: 1 tone too short to measure (tone 1): a pass needs 0.3 s after "
                   "the attack skip of 0.2 s\n"},
      {legato_file, "legato.wav: 1 tone's passes spread more than 50 cents (tone 1, up to "},
      {clean, nullptr},
  };
  for (const auto& c : cases) {
    const test::ProgramRun run = test::run_program(TONEPRINT_BATCH_BINARY, "-q -o " +
                                                   dir.file("out.csv") + " --force " + c.file,
                                                   dir.write("input", ""), dir.file("console"));
    EXPECT_EQ(run.status, 0) << run.console;
    if (c.line == nullptr) {
      EXPECT_EQ(run.console, "") << c.file;
    } else {
      EXPECT_NE(run.console.find(std::string("toneprint-batch: ") + dir.file("") + c.line),
                std::string::npos)
          << run.console;
    }
  }
}

#if !defined(_WIN32)
// A folder that cannot be listed is an error that names it; the other
// recordings are still analysed. Root reads any folder, so it runs the
// program without the capabilities that let it.
TEST(BatchFaults, AnUnreadableFolderIsAnError) {
  const test::TempDir dir;
  std::filesystem::create_directory(dir.file("locked"));
  dir.write("locked/take.wav", test::wave(tone(220, 1)));
  const std::string good = dir.write("good.wav", test::wave(tone(220, 1)));
  std::filesystem::permissions(dir.file("locked"), std::filesystem::perms::none);
  std::string program = TONEPRINT_BATCH_BINARY;
  std::string arguments;
  if (geteuid() == 0) {
    if (std::system("setpriv --help > /dev/null 2>&1") != 0) GTEST_SKIP() << "needs setpriv";
    arguments = "--bounding-set=-dac_override,-dac_read_search " + program + " ";
    program = "setpriv";
  }
  const test::ProgramRun run =
      test::run_program(program, arguments + dir.file("locked") + " " + good,
                        dir.write("input", ""), dir.file("console"));
  std::filesystem::permissions(dir.file("locked"), std::filesystem::perms::owner_all);
  EXPECT_EQ(run.status, 1) << run.console;
  EXPECT_NE(run.console.find("toneprint-batch: cannot read the folder " + dir.file("locked") +
                             ": Permission denied"),
            std::string::npos)
      << run.console;
  EXPECT_NE(run.console.find("good.wav,1,"), std::string::npos) << run.console;
}

// Standard input is a recording as any file; a run ended by a signal
// leaves neither the output's temporary file nor the copy of standard
// input behind, and ends as the signal ends a program.
TEST(BatchFaults, StandardInputAndSignalsLeaveNoTemporaryFile) {
  const test::TempDir dir;
  const std::string recording = dir.write("take.wav", test::wave(tone(220, 1)));
  const test::ProgramRun piped = test::run_program(TONEPRINT_BATCH_BINARY, "-q -",
                                                   recording, dir.file("console"));
  EXPECT_EQ(piped.status, 0) << piped.console;
  // All of it: the 176 kB recording is copied well past the copy's first
  // 64 KiB block, to the tone's end at 1.5 s and its two passes.
  EXPECT_NE(piped.console.find("\n-,1,0.500045,1.4997"), std::string::npos) << piped.console;

  std::filesystem::create_directory(dir.file("out"));
  const std::string tmpdir = "TMPDIR=" + dir.file("out");
  for (const int signal : {SIGINT, SIGTERM}) {
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    const std::string output = dir.file("out/r.csv");
    const char* argv[] = {TONEPRINT_BATCH_BINARY, "-q", "-o", output.c_str(), "-", nullptr};
    std::vector<char*> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) environment.push_back(*variable);
    environment.push_back(const_cast<char*>(tmpdir.c_str()));
    environment.push_back(nullptr);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, TONEPRINT_BATCH_BINARY, &actions, nullptr,
                          const_cast<char* const*>(argv), environment.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    // Part of a recording, and the rest never comes: both files exist.
    const std::string bytes = test::read_file(recording, true);
    ASSERT_EQ(write(input[1], bytes.data(), 4096), 4096);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (names_in(dir.file("out")).size() < 2 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(names_in(dir.file("out")).size(), 2u);
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
    close(input[1]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(names_in(dir.file("out")), std::vector<std::string>{}) << signal;
  }
}
#endif

#if defined(TONEPRINT_FAULT_SHIM)
// Threads that cannot start: the jobs' (every thread) or the harmonics'
// second one (threads started by threads). The recordings are analysed on
// one thread with the same numbers, and nothing is left behind.
TEST(BatchFaults, ThreadsThatCannotStartLeaveTheAnalysisToOne) {
  const test::TempDir dir;
  const std::string first = dir.write("first.wav", test::wave(tone(220, 1.5)));
  const std::string second = dir.write("second.wav", test::wave(tone(330, 1.5)));
  std::filesystem::create_directory(dir.file("out"));
  const std::string arguments = "-q --harmonics 50 --force -o " + dir.file("out/r.csv") + " " +
                                first + " " + second;
  test::run_program(TONEPRINT_BATCH_BINARY, arguments, dir.write("input", ""), dir.file("console"));
  const std::string expected = test::read_file(dir.file("out/r.csv"));
  for (const char* mode : {"all", "nested"}) {
    for (const char* jobs : {"-j 1 ", "-j 2 "}) {
      std::filesystem::remove(dir.file("out/r.csv"));
      const test::ProgramRun run = test::run_program(
          "env", std::string("TONEPRINT_SHIM_THREADS=") + mode + " LD_PRELOAD=" +
                     TONEPRINT_FAULT_SHIM + " " + TONEPRINT_BATCH_BINARY + " " + jobs + arguments,
          dir.write("input", ""), dir.file("console"));
      EXPECT_EQ(run.status, 0) << mode << " " << jobs << run.console;
      EXPECT_EQ(test::read_file(dir.file("out/r.csv")), expected) << mode << " " << jobs;
      EXPECT_EQ(names_in(dir.file("out")), std::vector<std::string>{"r.csv"});
    }
  }
}

// The output is on the disk before it takes its name, and the name is on
// the disk after: fsync of the file, the rename, fsync of the folder.
TEST(BatchFaults, TheOutputIsSyncedBeforeAndAfterItsRename) {
  const test::TempDir dir;
  const std::string good = dir.write("good.wav", test::wave(tone(220, 1)));
  const std::string log = dir.file("calls");
  const test::ProgramRun run = test::run_program(
      "env", "TONEPRINT_SHIM_LOG=" + log + " LD_PRELOAD=" + TONEPRINT_FAULT_SHIM + " " +
                 TONEPRINT_BATCH_BINARY + " -q -o " + dir.file("r.csv") + " " + good,
      dir.write("input", ""), dir.file("console"));
  EXPECT_EQ(run.status, 0) << run.console;
  const std::string calls = test::read_file(log);
  const std::string folder = std::filesystem::canonical(dir.path()).string();
  EXPECT_EQ(calls.rfind("fsync " + folder + "/.r.csv.", 0), 0u) << calls;
  EXPECT_NE(calls.find("\nrename " + dir.file("r.csv") + "\nfsync " + folder + "\n"),
            std::string::npos)
      << calls;
}
#endif
