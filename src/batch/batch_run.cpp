#include "batch/batch_run.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "toneprint/toneprint.h"
#include "batch/comparison_csv.h"
#include "html/chart_scale.h"
#include "html/comparison_page.h"
#include "html/report_figures.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace toneprint {
namespace {

namespace fs = std::filesystem;

// Temporary files that an interrupted run must not leave behind: the
// output's, and the copy of standard input. A signal handler may only call
// async-signal-safe functions, so each path is stored in a fixed buffer
// before the file exists, and the handler only unlinks them.
class SignalCleanup {
 public:
  enum Slot { output_file, input_copy, slot_count };

  static void hold(Slot slot, const std::string& path) {
#if !defined(_WIN32)
    if (path.size() >= sizeof paths_[slot]) return;
    held_[slot] = 0;
    std::memcpy(paths_[slot], path.c_str(), path.size() + 1);
    held_[slot] = 1;
    static const bool installed = [] {
      struct sigaction action {};
      action.sa_handler = handle;
      sigemptyset(&action.sa_mask);
      for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
      return true;
    }();
    (void)installed;
#else
    (void)slot;
    (void)path;
#endif
  }

  static void release(Slot slot) { held_[slot] = 0; }

 private:
#if !defined(_WIN32)
  static void handle(int signal) {
    for (int slot = 0; slot < slot_count; ++slot) {
      if (held_[slot] != 0) unlink(paths_[slot]);
    }
    // Ends the process as the signal would have, for the caller to see.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
  static inline char paths_[slot_count][4096] = {};
#endif
  static inline volatile std::sig_atomic_t held_[slot_count] = {};
};

bool is_terminal(std::FILE* stream) {
#if defined(_WIN32)
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

// Where the results go: standard output, a file or device written
// directly, or a temporary file beside the output that replaces it when
// everything has been written.
class Output {
 public:
  // Opens the output; false, with the reason in `problem`, when it cannot.
  bool open(const std::string& path, std::string& problem) {
    path_ = path;
    if (path.empty()) {
      file_ = stdout;
      return true;
    }
    std::error_code error;
    // A link to a file stays a link: the file it names is replaced.
    if (fs::is_symlink(fs::symlink_status(path, error))) {
      const fs::path target = fs::weakly_canonical(path, error);
      if (!error) path_ = target.string();
    }
    const fs::file_status status = fs::status(path, error);
    if (fs::exists(status) && !fs::is_regular_file(status)) {
      file_ = std::fopen(path.c_str(), "w");  // a pipe or a device: never replaced
    } else {
      file_ = open_temporary(problem);
    }
    if (file_ == nullptr && problem.empty()) problem = std::strerror(errno);
    return file_ != nullptr;
  }

  std::FILE* file() const { return file_; }

  // Ends the output; false, with the reason, when it was not written in
  // full (the output file is then left as it was).
  bool close(std::string& problem) {
    bool written = std::fflush(file_) == 0 && std::ferror(file_) == 0;
    if (!written) problem = std::strerror(errno);
    // On the disk before it takes the output's name, so that a power cut
    // leaves the old file or the new one, never an empty one.
    if (written && !temporary_.empty() && !sync_file(file_)) {
      written = false;
      problem = std::strerror(errno);
    }
    if (file_ != stdout && std::fclose(file_) != 0 && written) {
      written = false;
      problem = std::strerror(errno);
    }
    file_ = nullptr;
    if (temporary_.empty()) return written;
    if (written) {
      set_mode();
      std::error_code error;
      if (!replace(temporary_, path_, error)) {
        written = false;
        problem = error.message();
      } else {
        sync_folder();
      }
    }
    if (!written) {
      std::error_code ignored;
      fs::remove(temporary_, ignored);
    }
    SignalCleanup::release(SignalCleanup::output_file);
    return written;
  }

 private:
  std::FILE* open_temporary(std::string& problem) {
    const fs::path target(path_);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    // A hidden name: ".NAME." and a suffix of its own.
    std::string hidden(1, '.');
    hidden.append(target.filename().string()).push_back('.');
    const std::string stem = (folder / hidden).string();
#if defined(_WIN32)
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
      const std::string name =
          stem + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
      const int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_TEXT, 0644);
      if (fd >= 0) {
        temporary_ = name;
        return _fdopen(fd, "w");
      }
      if (errno != EEXIST) break;
    }
#else
    std::string name = stem + "XXXXXX";
    // Held before it is made: a signal between the two unlinks nothing.
    SignalCleanup::hold(SignalCleanup::output_file, name);
    const int fd = mkstemp(name.data());
    if (fd >= 0) {
      temporary_ = name;
      SignalCleanup::hold(SignalCleanup::output_file, name);
      return fdopen(fd, "w");
    }
    SignalCleanup::release(SignalCleanup::output_file);
#endif
    problem = std::string("cannot create a temporary file beside it: ") + std::strerror(errno);
    return nullptr;
  }

  static bool sync_file(std::FILE* file) {
#if defined(_WIN32)
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
  }

  // The rename itself is on the disk once the folder is; a folder that
  // cannot be synced (some file systems refuse) leaves the rename as the
  // system keeps it.
  void sync_folder() const {
#if !defined(_WIN32)
    const fs::path target(path_);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
      fsync(fd);
      ::close(fd);
    }
#endif
  }

  // The new file gets the mode of the one it replaces, or the mode a new
  // file would get.
  void set_mode() const {
#if !defined(_WIN32)
    struct stat existing {};
    mode_t mode = 0;
    if (stat(path_.c_str(), &existing) == 0) {
      mode = existing.st_mode & 07777;
    } else {
      const mode_t mask = umask(0);
      umask(mask);
      mode = 0666 & ~mask;
    }
    chmod(temporary_.c_str(), mode);
#endif
  }

  static bool replace(const std::string& from, const std::string& to, std::error_code& error) {
#if defined(_WIN32)
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return true;
    error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
    return false;
#else
    fs::rename(from, to, error);
    return !error;
#endif
  }

  std::string path_;
  std::string temporary_;
  std::FILE* file_ = nullptr;
};

// Refuses an output that exists as a file without --force, and one that is
// one of the recordings.
std::string output_problem(const BatchOptions& options) {
  if (options.output.empty()) return {};
  std::error_code error;
  const fs::file_status status = fs::status(options.output, error);
  if (!fs::exists(status)) return {};
  for (const std::string& recording : options.recordings) {
    std::error_code same_error;
    if (fs::equivalent(options.output, recording, same_error)) {
      return options.output + " is one of the recordings";
    }
  }
  if (fs::is_regular_file(status) && !options.force) {
    return options.output + " exists; --force replaces it";
  }
  return {};
}

}  // namespace

namespace {

// Standard input copied to a temporary file, so that every reader can seek
// in it as in any file; the copy is bounded by the disk, not by memory, and
// removed when the recording has been analysed.
class InputCopy {
 public:
  InputCopy() = default;
  InputCopy(const InputCopy&) = delete;
  InputCopy& operator=(const InputCopy&) = delete;
  ~InputCopy() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove(path_, ignored);
    SignalCleanup::release(SignalCleanup::input_copy);
  }

  // The copy's path; empty, with the reason in `error`, when it cannot be
  // made.
  const std::string& make(std::string& error) {
    std::error_code folder_error;
    const fs::path folder = fs::temp_directory_path(folder_error);
    std::string name = ((folder_error ? fs::path(".") : folder) / "toneprint-batch-").string();
    std::FILE* copy = nullptr;
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
    name += std::to_string(GetCurrentProcessId());
    copy = std::fopen(name.c_str(), "wbx");
#else
    name += "XXXXXX";
    SignalCleanup::hold(SignalCleanup::input_copy, name);
    const int fd = mkstemp(name.data());
    if (fd >= 0) {
      SignalCleanup::hold(SignalCleanup::input_copy, name);
      copy = fdopen(fd, "wb");
    }
#endif
    if (copy == nullptr) {
      SignalCleanup::release(SignalCleanup::input_copy);
      error = std::string("cannot make a temporary copy of standard input: ") +
              std::strerror(errno);
      return path_;
    }
    path_ = name;
    std::vector<char> buffer(1 << 16);
    bool copied = true;
    for (;;) {
      const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), stdin);
      if (count > 0 && std::fwrite(buffer.data(), 1, count, copy) != count) copied = false;
      if (count < buffer.size() || !copied) break;
    }
    if (std::ferror(stdin) != 0) {
      error = std::string("cannot read standard input: ") + std::strerror(errno);
    } else if (!copied || std::fflush(copy) != 0) {
      error = std::string("cannot copy standard input to ") + name + ": " + std::strerror(errno);
    }
    if (std::fclose(copy) != 0 && error.empty()) {
      error = std::string("cannot copy standard input to ") + name + ": " + std::strerror(errno);
    }
    return path_;
  }

 private:
  std::string path_;
};

// How the options have each recording analysed.
AnalysisOptions analysis_options(const BatchOptions& options, bool one_thread) {
  AnalysisOptions run;
  run.channel = options.channel;
  run.robust = options.robust;
  run.partials = options.partials;
  // The page draws the level of every sample (the comparison's does not).
  run.keep_levels = options.format == OutputFormat::html && !options.compare;
  run.one_thread = one_thread;
  return run;
}

// Reads and analyses one recording as it is named.
RecordingResult analyse_named(const std::string& path, const BatchOptions& options,
                              Progress& progress, bool one_thread) {
  InputCopy input_copy;
  std::string file = path;
  if (path == standard_input_name) {
    std::string error;
    file = input_copy.make(error);
    if (!error.empty()) {
      RecordingResult result;
      result.path = path;
      result.error = error;
      return result;
    }
  }
  return analyse_file(file, path, analysis_options(options, one_thread),
                      [&options](std::uint32_t sample_rate, AnalysisSettings& settings) {
                        return settings_for(options, sample_rate, settings);
                      },
                      progress);
}

}  // namespace

RecordingResult analyse_listed(const std::string& path, const BatchOptions& options,
                               Progress& progress, bool one_thread) {
  // A failure of one recording's analysis (no memory, no thread) is that
  // recording's error; the run goes on with the others.
  try {
    try {
      return analyse_named(path, options, progress, one_thread);
    } catch (const std::system_error&) {
      // The second thread for the harmonics could not start: the same
      // analysis on this thread alone gives the same numbers.
      if (one_thread) throw;
      progress.read = 0;
      return analyse_named(path, options, progress, true);
    }
  } catch (const std::bad_alloc&) {
    RecordingResult result;
    result.path = path;
    result.error = "not enough memory to analyse it";
    return result;
  } catch (const std::exception& error) {
    RecordingResult result;
    result.path = path;
    result.error = std::string("could not be analysed: ") + error.what();
    return result;
  }
}

namespace {

// Why a recording gave no tone, and what to try.
std::string no_tone_reason(const RecordingResult& result) {
  const double threshold = result.settings.silence_threshold;
  const auto dbfs = [](double value) {
    return decibels(value, full_scale, -std::numeric_limits<double>::infinity());
  };
  char text[320];
  if (result.peak <= threshold) {
    std::snprintf(text, sizeof text,
                  "no tone: the loudest sample, %.0f (%.1f dBFS), is not above the silence "
                  "threshold %.0f (%.1f dBFS); try --robust or --threshold %.0f",
                  result.peak, dbfs(result.peak), threshold, dbfs(threshold),
                  std::max(1.0, std::floor(result.peak * std::pow(10.0, -19.0 / 20.0))));
  } else {
    std::snprintf(text, sizeof text,
                  "no tone: the recording ends within the attack skip (%g s) after its first "
                  "sample above the silence threshold %.0f; try a shorter --attack",
                  result.settings.attack_seconds, threshold);
  }
  return text;
}

}  // namespace

// Gives the recording's tones their expected notes (from the list's
// position `next` on), lets the octave guard check them, and adds its tones
// to those the best reference is fitted to. Problems go to `err`; false
// when the expectation gave the recording's tones no note.
bool judge_against_target(const BatchOptions& options, RecordingResult& result,
                          std::size_t& next, std::vector<JudgedTone>& judged, std::ostream& err) {
  const Tuning& tuning = *options.tuning;
  const std::size_t before = next;
  const std::string unexpected = expect_notes(result, options.expectation, next);
  if (!unexpected.empty()) err << "toneprint-batch: " << unexpected << "\n";
  if (options.expectation.kind == ExpectationKind::list && before < options.expectation.notes.size() &&
      next == options.expectation.notes.size() && next - before < result.tones.size()) {
    err << "toneprint-batch: " << result.path << ": the " << options.expectation.notes.size()
        << " expected notes end before tone " << next - before + 1 << "\n";
  }
  const AnalysisOptions run = analysis_options(options, false);
  const bool checked = std::any_of(result.tones.begin(), result.tones.end(),
                                   [&tuning](const ToneRecord& tone) {
                                     return needs_octave_guard(tone, tuning);
                                   });
  if (checked && guards_octaves(run)) {
    const std::string& path = result.path;
    if (path == standard_input_name) {
      err << "toneprint-batch: -: the octave guard cannot read standard input again; its tones "
             "stand as found\n";
    } else if (const std::string problem = guard_octaves_in_file(result, tuning, path, run);
               !problem.empty()) {
      err << "toneprint-batch: " << path << ": the octave guard could not read it again: "
          << problem << "\n";
    }
  }
  add_judged_tones(result, tuning, judged);
  return unexpected.empty();
}

namespace {

// Analyses `recordings` as the options ask, several at once, and hands each
// result to `take` in the order of the list, once its problems have gone to
// `err` and, with a target, its tones have been judged (the expected list
// from its start) and added to `judged`. False when a recording could not be
// read or its expectation gave it no note.
bool analyse_recordings(const BatchOptions& options, const std::vector<std::string>& recordings,
                        std::vector<JudgedTone>& judged, std::ostream& err,
                        const std::function<void(const RecordingResult&)>& take,
                        const ProgressReport& report = {}) {
  // Each job takes the next recording; results wait in their slot until
  // every one before them has been written.
  const std::size_t count = recordings.size();
  std::vector<std::optional<RecordingResult>> slots(count);
  std::vector<Progress> progress(count);
  if (report) {
    for (std::size_t i = 0; i < count; ++i) {
      progress[i].report = [&report, i](const Progress& done) { report(i, done); };
    }
  }
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::condition_variable done;
  // One thread per job: several jobs leave the second processor to each
  // other, a single one may take it for half of its harmonics.
  const std::size_t job_count = std::min<std::size_t>(options.jobs, count);
  auto work = [&] {
    for (std::size_t i = next++; i < count; i = next++) {
      RecordingResult result = analyse_listed(recordings[i], options, progress[i], job_count > 1);
      const std::lock_guard<std::mutex> lock(mutex);
      slots[i] = std::move(result);
      done.notify_all();
    }
  };
  std::vector<std::thread> jobs;
  try {
    for (std::size_t j = 0; j < job_count; ++j) jobs.emplace_back(work);
  } catch (const std::system_error&) {
    // The jobs that started take every recording between them; with none,
    // this thread analyses each recording as the output comes to it.
  }

  const bool show_progress = !options.quiet && is_terminal(stderr);
  bool progress_shown = false;
  const auto started = std::chrono::steady_clock::now();
  bool all_read = true;
  // The list's position for the next recording's tones.
  std::size_t next_expected = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (jobs.empty()) {
      RecordingResult result = analyse_listed(recordings[i], options, progress[i], false);
      const std::lock_guard<std::mutex> lock(mutex);
      slots[i] = std::move(result);
    }
    std::unique_lock<std::mutex> lock(mutex);
    while (!done.wait_for(lock, std::chrono::milliseconds(250),
                          [&] { return slots[i].has_value(); })) {
      if (!show_progress || std::chrono::steady_clock::now() - started < std::chrono::seconds(1)) {
        continue;
      }
      // The recording the output waits for.
      const std::uint64_t read = progress[i].read;
      const std::uint64_t frames = progress[i].frames;
      if (frames > 0) {
        std::fprintf(stderr, "\r\033[Ktoneprint-batch: recording %zu of %zu, %s: %.0f %%", i + 1,
                     count, recordings[i].c_str(),
                     100.0 * static_cast<double>(read) / static_cast<double>(frames));
      } else {
        std::fprintf(stderr,
                     "\r\033[Ktoneprint-batch: recording %zu of %zu, %s: %.1f million samples",
                     i + 1, count, recordings[i].c_str(), static_cast<double>(read) / 1e6);
      }
      std::fflush(stderr);
      progress_shown = true;
    }
    RecordingResult result = std::move(*slots[i]);
    slots[i].reset();
    lock.unlock();
    if (progress_shown) {
      std::fputs("\r\033[K", stderr);
      progress_shown = false;
    }
    if (!result.error.empty()) {
      all_read = false;
      err << "toneprint-batch: " << result.path << ": " << result.error << "\n";
    } else if (result.opened && result.tones.empty()) {
      err << "toneprint-batch: " << result.path << ": " << no_tone_reason(result) << "\n";
    }
    if (options.tuning && result.opened &&
        !judge_against_target(options, result, next_expected, judged, err)) {
      all_read = false;
    }
    for (const std::string& warning : result_warnings(result)) {
      err << "toneprint-batch: " << result.path << ": " << warning << "\n";
    }
    take(result);
  }
  for (std::thread& job : jobs) job.join();
  const std::size_t listed = options.expectation.notes.size();
  if (options.tuning && options.expectation.kind == ExpectationKind::list &&
      next_expected < listed) {
    err << "toneprint-batch: " << listed - next_expected << " of the " << listed
        << " expected notes were left over: the recordings have " << next_expected
        << " tones\n";
  }
  return all_read;
}

// Closes the output; false, after saying why, when it was not written in full.
bool close_output(Output& output, const std::string& name, std::ostream& err) {
  std::string problem;
  if (output.close(problem)) return true;
  err << "toneprint-batch: the output " << (name.empty() ? "(standard output)" : name)
      << " could not be written completely: " << problem << "\n";
  return false;
}

}  // namespace

int run_batch(const BatchOptions& options, std::ostream& err) {
  if (const std::string problem = output_problem(options); !problem.empty()) {
    err << "toneprint-batch: " << problem << "\n";
    return 2;
  }
  for (const std::string& problem : options.folder_errors) {
    err << "toneprint-batch: " << problem << "\n";
  }
  Output output;
  std::string problem;
  if (!output.open(options.output, problem)) {
    err << "toneprint-batch: cannot write " << options.output << ": " << problem << "\n";
    return 1;
  }
  const std::unique_ptr<ResultWriter> writer = make_writer(options, output.file());
  ResultWriter* const writers[] = {writer.get()};
  const bool all_read = write_results(options, writers, err);

  if (!close_output(output, options.output, err)) return 1;
  return all_read && options.folder_errors.empty() ? 0 : 1;
}

bool write_results(const BatchOptions& options, std::span<ResultWriter* const> writers,
                   std::ostream& err, const ProgressReport& report) {
  // The tones the best reference is fitted to.
  std::vector<JudgedTone> judged;
  const bool all_read = analyse_recordings(
      options, options.recordings, judged, err,
      [&writers](const RecordingResult& result) {
        for (ResultWriter* writer : writers) writer->recording(result);
      },
      report);
  std::optional<BestReference> best;
  if (options.tuning) {
    best = best_reference(*options.tuning, judged);
    if (best && !options.quiet) {
      char line[160];
      std::snprintf(line, sizeof line, "best reference: A4 = %.2f Hz \u00b1 %.2f from %zu tone%s",
                    best->a4_hz, best->interval_hz, best->tones, best->tones == 1 ? "" : "s");
      err << "toneprint-batch: " << line << "\n";
    }
  }
  for (ResultWriter* writer : writers) writer->finish(best);
  return all_read;
}

namespace {

// Where -o FILE.csv puts the tones: FILE-tones.csv beside it.
std::string tones_path(const std::string& output) {
  fs::path path(output);
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".csv") path.replace_extension();
  return path.string() + "-tones.csv";
}

// One set's tones: read from its stored results, or analysed as a run
// analyses its recordings. Why it gives none, or empty; `all_read` is
// cleared when one of its recordings could not be read.
std::string read_set(const BatchOptions& options, const SetSource& source, const Tuning& tuning,
                     ComparisonSet& set, bool& all_read, std::ostream& err) {
  if (!source.error.empty()) return source.error;
  if (source.stored) {
    if (std::string problem = read_stored_file(source.name, set.tones); !problem.empty()) {
      return problem;
    }
  } else {
    std::vector<JudgedTone> judged;
    const auto take = [&](const RecordingResult& result) {
      std::vector<ComparedTone> tones = compared_tones(result, tuning, options.partials);
      set.tones.insert(set.tones.end(), std::make_move_iterator(tones.begin()),
                       std::make_move_iterator(tones.end()));
    };
    if (!analyse_recordings(options, source.recordings, judged, err, take)) all_read = false;
  }
  return set.tones.empty() ? "no tone measured" : "";
}

// Writes `write`'s text to `path` (standard output when empty) as a run
// writes its output; false, after saying why, when it was not written.
bool write_output(const std::string& path, std::ostream& err,
                  const std::function<void(std::FILE*)>& write) {
  Output output;
  std::string problem;
  if (!output.open(path, problem)) {
    err << "toneprint-batch: cannot write " << path << ": " << problem << "\n";
    return false;
  }
  write(output.file());
  return close_output(output, path, err);
}

}  // namespace

int run_compare(const BatchOptions& options, std::ostream& err) {
  const bool tones_apart = options.format == OutputFormat::csv && !options.output.empty();
  // The tones' file is checked as the output is: it too must not replace a
  // file without --force, nor one of the sets.
  BatchOptions tones_output = options;
  tones_output.output = tones_apart ? tones_path(options.output) : std::string();
  for (const BatchOptions* checked : {&options, &std::as_const(tones_output)}) {
    if (const std::string problem = output_problem(*checked); !problem.empty()) {
      err << "toneprint-batch: " << problem << "\n";
      return 2;
    }
  }
  // Without a target asked for, tones are judged against equal temperament
  // at the run's A4.
  Tuning tuning;
  tuning.a4 = options.a4;
  if (options.tuning) tuning = *options.tuning;

  bool all_read = true;
  std::vector<ComparisonSet> sets;
  for (const SetSource& source : options.sets) {
    ComparisonSet set;
    set.name = source.name;
    if (const std::string problem = read_set(options, source, tuning, set, all_read, err);
        !problem.empty()) {
      err << "toneprint-batch: set " << source.name << ": " << problem << "\n";
      all_read = false;
      continue;
    }
    sets.push_back(std::move(set));
  }
  if (sets.size() < 2) {
    err << "toneprint-batch: " << (sets.empty() ? "no set" : "one set") << " of the "
        << options.sets.size() << " could be read; nothing to compare\n";
    return 1;
  }
  const Comparison comparison = compare_sets(sets);

  if (options.format == OutputFormat::html) {
    const bool written = write_output(options.output, err, [&](std::FILE* out) {
      const std::string page =
          comparison_page(comparison, std::string("toneprint-batch ") + TONEPRINT_VERSION);
      std::fwrite(page.data(), 1, page.size(), out);
    });
    return written && all_read ? 0 : 1;
  }
  const bool written = write_output(options.output, err, [&](std::FILE* out) {
    write_comparison_csv(comparison, out);
    if (tones_apart) return;
    std::fputs("\n", out);
    write_compared_tones_csv(sets, out);
  });
  if (!written) return 1;
  if (tones_apart && !write_output(tones_output.output, err, [&](std::FILE* out) {
        write_compared_tones_csv(sets, out);
      })) {
    return 1;
  }
  return all_read ? 0 : 1;
}

}  // namespace toneprint
