#include "batch/batch_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <bit>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <thread>

#include "readers/recording.h"

namespace toneprint {
namespace {


std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string number_text(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// The recordings named on the command line, a folder by its audio files in
// name order. A name that is neither a folder nor a file is kept, so that
// reading it reports it.
std::vector<std::string> expand_folders(const std::vector<std::string>& names) {
  namespace fs = std::filesystem;
  std::vector<std::string> recordings;
  for (const std::string& name : names) {
    std::error_code error;
    if (!fs::is_directory(name, error)) {
      recordings.push_back(name);
      continue;
    }
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(name, error)) {
      std::error_code kind_error;
      if (entry.is_regular_file(kind_error) && is_recording_name(entry.path().string())) {
        found.push_back(entry.path().string());
      }
    }
    std::sort(found.begin(), found.end());
    recordings.insert(recordings.end(), found.begin(), found.end());
  }
  return recordings;
}

}  // namespace

std::optional<double> BatchOptions::given(Setting setting) const {
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    if (setting_bounds[i].setting == setting) return settings[i];
  }
  return std::nullopt;
}

std::string setting_option_name(std::size_t index) {
  return std::string("--").append(setting_names.at(index).name);
}

bool is_recording_name(const std::string& file_name) {
  static const std::array<const char*, 10> extensions = {
      ".wav", ".wave", ".flac", ".aif", ".aiff", ".aifc", ".ogg", ".oga", ".opus", ".mp3"};
  const std::string extension = lower(std::filesystem::path(file_name).extension().string());
  return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

std::string version_text() {
  const std::string sndfile = sndfile_version();
  return "toneprint-batch " TONEPRINT_VERSION "\n" +
         (sndfile.empty() ? std::string("Reads WAVE files only (built without libsndfile).\n")
                          : "Reads WAVE files, and other formats through " + sndfile + ".\n");
}

ParseOutcome parse_options(int argc, const char* const* argv, BatchOptions& options,
                           std::ostream& out, std::ostream& err) {
  CLI::App app{
      "Measures the pitch and the harmonics of the tones in each recording and writes one row "
      "per tone.",
      "toneprint-batch"};
  app.get_formatter()->column_width(32);
  // A path that starts with a slash is a recording, on Windows too.
  app.allow_windows_style_options(false);

  GivenSettings given;
  const AnalysisSettings defaults;
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    const SettingBounds& bounds = setting_bounds[i];
    const SettingName& option = setting_names[i];
    const std::string name = std::string("--").append(option.name);
    std::optional<double>& value = given[i];
    if (bounds.setting == Setting::fft_choice) {
      app.add_option_function<std::uint32_t>(
             name, [&value](std::uint32_t size) { value = std::countr_zero(size) - 10; },
             option.description)
          ->check(CLI::IsMember({2048u, 4096u, 8192u, 16384u}));
      continue;
    }
    const double maximum = bounds.setting == Setting::fft_hop ? 16384.0 : bounds.maximum;
    const std::string default_text = number_text(setting_value(defaults, bounds.setting));
    const std::string description = std::string(option.description) + " [default " + default_text +
                                    ", " + number_text(bounds.minimum) + " to " +
                                    number_text(maximum) + "]";
    if (bounds.kind == SettingKind::whole) {
      app.add_option_function<std::int64_t>(
             name, [&value](std::int64_t v) { value = static_cast<double>(v); }, description)
          ->check(CLI::Range(static_cast<std::int64_t>(bounds.minimum),
                             static_cast<std::int64_t>(maximum)));
    } else {
      app.add_option_function<double>(
             name, [&value](double v) { value = v; }, description)
          ->check(CLI::Range(bounds.minimum, maximum));
    }
  }

  double a4 = default_a4;
  app.add_option("--a4", a4,
                 "Frequency of A4 for note names and cents, Hz [default " + number_text(default_a4) +
                     ", " + number_text(min_a4) + " to " + number_text(max_a4) + "]")
      ->check(CLI::Range(min_a4, max_a4));
  // The robust mode, and each of its changes on its own.
  RobustSettings robust;
  bool all_robust = false;
  app.add_flag("--robust", all_robust,
               "For real instruments: all five changes below, each of which also has an "
               "option of its own")
      ->group("Robust mode");
  app.add_flag("--follow-tail", robust.follow_tail,
               "Follow a tone too short for one pass into its decaying tail")
      ->group("Robust mode");
  app.add_option("--tail-depth", robust.tail_depth_db,
                 "How far below its attack's peak a tail is followed, dB [default 40, 10 to 80]")
      ->check(CLI::Range(10.0, 80.0))
      ->group("Robust mode");
  app.add_flag("--short-attack", robust.short_attack,
               "Skip less of a short tone's attack, to leave room for one pass (at least 50 ms)")
      ->group("Robust mode");
  app.add_flag("--check-vote", robust.check_vote,
               "Check each pass's fundamental against its spectrum and its period, and replace "
               "a wrong one")
      ->group("Robust mode");
  app.add_flag("--consensus", robust.consensus,
               "Average only the passes within 50 cents of the best-supported one")
      ->group("Robust mode");
  app.add_flag("--relative-threshold", robust.relative_threshold,
               "Lower the silence threshold to 19 dB below the recording's loudest sample")
      ->group("Robust mode");

  std::string channel = "mix";
  app.add_option("--channel", channel,
                 "Channel analysed in a recording of several: a number from 1, or mix for their "
                 "mean [default mix]");
  std::string format = "csv";
  app.add_option("-f,--format", format,
                 "Output format: csv, json, classic, or html (a page with charts) [default csv]")
      ->check(CLI::IsMember({"csv", "json", "classic", "html"}));
  std::string output;
  app.add_option("-o,--output", output, "Output file; - for standard output [default -]");
  bool force = false;
  app.add_flag("--force", force, "Replace an existing output file");
  const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
  unsigned jobs = processors;
  app.add_option("-j,--jobs", jobs,
                 "Recordings analysed at once [default " + std::to_string(processors) +
                     ", the processors available; 1 to 256]")
      ->check(CLI::Range(1u, 256u));
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "No progress line; only errors on standard error");
  bool version = false;
  app.add_flag("--version", version, "Show the version and the formats this build reads");
  std::vector<std::string> recordings;
  app.add_option("RECORDING", recordings,
                 "Recordings to analyse; a folder stands for its audio files");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error, out, err);
    return {false, code == 0 ? 0 : 2};
  }
  if (version) {
    out << version_text();
    return {false, 0};
  }

  std::string problem;
  if (channel != "mix") {
    std::uint32_t number = 0;
    std::istringstream text(channel);
    if (!(text >> number) || !text.eof() || number == 0) {
      problem = "--channel: " + channel + " is neither a channel number (from 1) nor mix";
    }
    options.channel.channel = number;
  }
  options.recordings = expand_folders(recordings);
  options.settings = given;
  const std::optional<double> hop = options.given(Setting::fft_hop);
  const std::optional<double> fft_choice = options.given(Setting::fft_choice);
  if (problem.empty() && hop && fft_choice &&
      *hop > fft_size_for_choice(static_cast<std::uint32_t>(*fft_choice))) {
    problem = "--hop: " + number_text(*hop) + " is longer than --fft-size " +
              std::to_string(fft_size_for_choice(static_cast<std::uint32_t>(*fft_choice)));
  }
  if (problem.empty() && recordings.empty()) problem = "no recording given";
  if (problem.empty() && options.recordings.empty())
    problem = "no audio files in the folders given";
  if (problem.empty() && format == "classic" && options.recordings.size() != 1) {
    problem = "--format classic takes a single recording";
  }
  if (!problem.empty()) {
    err << "toneprint-batch: " << problem << "\nRun with --help for more information.\n";
    return {false, 2};
  }

  options.a4 = a4;
  if (all_robust) {
    robust.follow_tail = robust.short_attack = robust.check_vote = robust.consensus =
        robust.relative_threshold = true;
  }
  options.robust = robust;
  options.format = format == "json"      ? OutputFormat::json
                   : format == "classic" ? OutputFormat::classic
                   : format == "html"    ? OutputFormat::html
                                         : OutputFormat::csv;
  options.output = output == "-" ? std::string() : output;
  options.force = force;
  options.jobs = jobs;
  options.quiet = quiet;
  return {true, 0};
}

std::string settings_for(const BatchOptions& options, std::uint32_t sample_rate,
                         AnalysisSettings& settings) {
  if (settings_with(options.settings, sample_rate, settings)) return {};
  return "--hop " + number_text(*options.given(Setting::fft_hop)) +
         " is longer than the FFT size " + std::to_string(settings.fft_size) + " used at " +
         std::to_string(sample_rate) + " Hz; give --fft-size too";
}

}  // namespace toneprint
