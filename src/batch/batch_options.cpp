#include "batch/batch_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <system_error>
#include <thread>

#include "toneprint/toneprint.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

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

// "2048, 4096, 8192, 16384".
std::string fft_size_list() {
  std::string list;
  for (const std::uint32_t size : fft_sizes) {
    list += (list.empty() ? "" : ", ") + std::to_string(size);
  }
  return list;
}

// Parses an option's value within bounds typed as text; empty, or why the
// value cannot serve ("2.5 is not a whole number").
std::string read_value(const std::string& text, bool whole, double minimum, double maximum,
                       double& value) {
  const char* first = text.c_str();
  char* last = nullptr;
  errno = 0;
  value = std::strtod(first, &last);
  if (text.empty() || last != first + text.size() || std::isspace(static_cast<unsigned char>(text[0])) ||
      !std::isfinite(value)) {
    return text + " is not a number";
  }
  if (whole && value != std::floor(value)) return text + " is not a whole number";
  if (value < minimum || value > maximum) {
    return text + " is not within " + number_text(minimum) + " to " + number_text(maximum);
  }
  return {};
}

// The edit distance of two option names, for "did you mean".
std::size_t distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The first argument that looks like an option but is none of the app's,
// with the nearest option's name when one is close.
std::string unknown_option(const CLI::App& app, int argc, const char* const* argv) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options()) {
    const auto prefixed = [&names](const std::vector<std::string>& plain, const char* dashes) {
      std::transform(plain.begin(), plain.end(), std::back_inserter(names),
                     [dashes](const std::string& name) { return dashes + name; });
    };
    prefixed(option->get_lnames(), "--");
    prefixed(option->get_snames(), "-");
  }
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--") break;
    if (argument.size() < 2 || argument[0] != '-' ||
        std::isdigit(static_cast<unsigned char>(argument[1])) != 0) {
      continue;
    }
    const std::string name = argument.substr(0, argument.find('='));
    if (name.size() > 2 && name[1] != '-') continue;  // short options together, as -qf
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    std::string nearest;
    std::size_t best = 3;  // further than two edits is no suggestion
    for (const std::string& known : names) {
      const std::size_t d = distance(name, known);
      if (d < best) {
        best = d;
        nearest = known;
      }
    }
    return "unknown option " + name + (nearest.empty() ? "" : "; did you mean " + nearest + "?");
  }
  return {};
}

// The format that an output file's extension names, if any.
std::optional<std::string> format_of_extension(const std::string& output) {
  const std::string extension = lower(std::filesystem::path(output).extension().string());
  if (extension == ".csv") return "csv";
  if (extension == ".json") return "json";
  if (extension == ".html" || extension == ".htm") return "html";
  return std::nullopt;
}

bool standard_input_is_terminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(fileno(stdin)) != 0;
#endif
}

const char* const exit_statuses =
    "Examples:\n"
    "  toneprint-batch takes/ -o takes.csv         a folder of takes, one row per tone\n"
    "  toneprint-batch -r -o report.html library/  a page of charts, subfolders too\n"
    "  sox take.flac -t wav - | toneprint-batch -f json -\n"
    "                                              a recording from standard input\n"
    "  toneprint-batch --robust --expect filename --temperament werckmeister-iii \\\n"
    "      --a4 415 -o tuning.html samples/        each note against the one its file\n"
    "                                              names, and the best-fitting A4\n"
    "  toneprint-batch compare before/ after/      two sets of tones, note by note\n"
    "                                              (toneprint-batch compare --help)\n"
    "\n"
    "Exit status: 0 when every recording was analysed; 1 when a recording or a folder\n"
    "could not be read (the others are still analysed) or the output not written;\n"
    "2 for a usage error, before any work.\n";

const char* const compare_footer =
    "Each set is a recording, a folder (its audio files; -r for subfolders) or a .json\n"
    "file of results that toneprint-batch wrote; the analysis options apply to\n"
    "recordings and folders, and an --expect list starts afresh with each set. Tones\n"
    "are matched by the note expected of them, otherwise by the nearest note; a note\n"
    "measured more than once in a set is taken as the mean of its tones, with their\n"
    "standard deviation. The first set is the reference.\n"
    "\n"
    "csv: note,set,harmonic,level_db,difference_db,relative_to,spread_db,tones, a row\n"
    "per note (matched notes, then unmatched ones), set and harmonic. level_db is the\n"
    "set's mean level: harmonic 1's in dB of full scale, the others' in dB of the\n"
    "fundamental (relative_to says which); difference_db is the set's level minus the\n"
    "reference's (empty for an unmatched note). Then the tones that went in:\n"
    "set,file,tone,note,matched_by,frequency_hz,deviation_cents,fundamental_dbfs and\n"
    "the descriptors, in FILE-tones.csv beside -o FILE.csv, or after a blank line.\n"
    "\n"
    "Examples:\n"
    "  toneprint-batch compare before.wav after.wav     differences in dB, as CSV\n"
    "  toneprint-batch compare -o rank.html 2025.json rank/\n"
    "                                      last year's stored results against today's\n"
    "\n"
    "Exit status: 0 when every set was read; 1 when a set or a recording could not\n"
    "be read (with fewer than two sets left, nothing is written) or the output not\n"
    "written; 2 for a usage error, before any work.\n";

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

std::string version_text() {
  const std::string sndfile = sndfile_version();
  return "toneprint-batch " TONEPRINT_VERSION "\n" +
         (sndfile.empty() ? std::string("Reads WAVE files only (built without libsndfile).\n")
                          : "Reads WAVE files, and other formats through " + sndfile + ".\n");
}

namespace {

// What an option's help says of its default: "10" of "... [default 10, 1 to
// 100]", "mix" of "[default mix]"; empty where it says none.
std::string default_of(const std::string& help) {
  const std::string mark = "[default";
  const std::size_t at = help.rfind(mark);
  if (at == std::string::npos) return {};
  std::size_t first = at + mark.size();
  if (first < help.size() && help[first] == ':') ++first;
  while (first < help.size() && help[first] == ' ') ++first;
  const std::size_t last = help.find_first_of(",]", first);
  return help.substr(first, last == std::string::npos ? std::string::npos : last - first);
}

// Parses the command line, or, with `table`, only describes its options
// there.
ParseOutcome parse_or_describe(int argc, const char* const* argv, BatchOptions& options,
                               std::ostream& out, std::ostream& err,
                               std::vector<OptionDescription>* table) {
  // compare's own arguments follow it, and it takes its place as the name.
  const bool compare = argc > 1 && std::string(argv[1]) == compare_command;
  if (compare) {
    --argc;
    ++argv;
  }
  CLI::App app{
      compare ? "Compares the harmonics of sets of tones, note by note: the first set against "
                "each of the others."
              : "Measures the pitch and the harmonics of the tones in each recording and writes "
                "one row per tone.",
      compare ? "toneprint-batch compare" : "toneprint-batch"};
  app.get_formatter()->column_width(30);
  app.get_formatter()->label("REQUIRED", "required");
  // A path that starts with a slash is a recording, on Windows too.
  app.allow_windows_style_options(false);
  app.footer(compare ? compare_footer : exit_statuses);

  // Every value is taken as text and checked here, so that each message
  // has the program's style and the bounds as they are typed.
  struct Checked {
    std::string option;
    std::string text;
    bool whole;
    double minimum, maximum;
    double* value;
  };
  std::vector<Checked> checked;
  const auto add_checked = [&](const std::string& name, const std::string& description,
                               const std::string& group, bool whole, double minimum,
                               double maximum, double* value) {
    checked.push_back({name.substr(name.rfind(',') + 1), {}, whole, minimum, maximum, value});
    const std::size_t index = checked.size() - 1;
    app.add_option_function<std::string>(
           name, [&checked, index](const std::string& text) { checked[index].text = text; },
           description)
        ->type_name(whole ? "N" : "X")
        ->group(group);
  };
  // The values are stored from `checked`, which must not move once the
  // options refer to it.
  checked.reserve(setting_bounds.size() + 4);

  std::vector<std::string> recordings;
  bool recursive = false;
  app.add_option(compare ? "SET" : "RECORDING", recordings,
                 compare ? "Sets to compare, the first the reference (two or more): a "
                           "recording, a folder (its audio files) or a .json file of results"
                         : "Recordings to analyse: files, folders (their audio files), or - for "
                           "standard input")
      ->required()
      ->group("Input");
  app.add_flag("-r,--recursive", recursive, "Take the audio files in the folders' subfolders too")
      ->group("Input");
  std::string channel = "mix";
  app.add_option("--channel", channel,
                 "Channel analysed in a recording of several: a number from 1, or mix for their "
                 "mean [default mix]")
      ->type_name("N|mix")
      ->group("Input");

  // Made again here, so that the help lists the input first.
  app.set_help_flag("-h,--help", "Show this help and exit")->group("Output");
  std::string output;
  app.add_option("-o,--output", output,
                 compare ? "Output file; - for standard output [default -]. Its extension "
                           "(.csv, .html) chooses the format"
                         : "Output file; - for standard output [default -]. Its extension (.csv, "
                           ".json, .html) chooses the format")
      ->type_name("FILE")
      ->group("Output");
  std::string format;
  app.add_option("-f,--format", format,
                 compare ? "csv (the differences, then the tones) or html (one page) "
                           "[default: the output's extension, else csv]"
                         : "csv, partials-csv (a row per tone and partial; implies --partials), "
                           "json, classic (toneprint's report, one recording) or html (a page "
                           "with charts) [default: the output's extension, else csv]")
      ->type_name("FORMAT")
      ->group("Output");
  bool force = false;
  app.add_flag("--force", force, "Replace an existing output file")->group("Output");
  double jobs_value = 0.0;
  const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
  add_checked("-j,--jobs",
              "Recordings analysed at once [default " + std::to_string(processors) +
                  ", the processors available; 1 to 256]",
              "Output", true, 1, 256, &jobs_value);
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet,
               "No progress line; only errors and warnings on standard error")
      ->group("Output");
  bool version = false;
  app.add_flag("--version", version, "Show the version and the formats this build reads")
      ->group("Output");

  // The robust mode, and each of its changes on its own.
  RobustSettings robust;
  bool all_robust = false;
  app.add_flag("--robust", all_robust,
               "For real instruments: all the changes below, each of which also has an "
               "option of its own")
      ->group("Modes");
  bool partials = false;
  app.add_flag("--partials", partials,
               "Measure each partial at its own frequency, through vibrato and a stiff string's "
               "stretched partials: their frequencies, the inharmonicity B and the vibrato")
      ->group("Modes");
  double tail_depth = robust.tail_depth_db;
  for (const RobustChange& change : robust_changes) {
    app.add_flag(std::string("--").append(change.name), robust.*change.flag, change.description)
        ->group("Modes");
    if (change.flag != &RobustSettings::follow_tail) continue;
    add_checked("--tail-depth",
                "How far below its attack's peak a tail is followed, dB, with --follow-tail "
                "[default " + number_text(robust.tail_depth_db) + ", " +
                    number_text(min_tail_depth_db) + " to " + number_text(max_tail_depth_db) + "]",
                "Modes", false, min_tail_depth_db, max_tail_depth_db, &tail_depth);
  }

  std::array<double, setting_bounds.size()> setting_values{};
  const AnalysisSettings defaults;
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    const SettingBounds& bounds = setting_bounds[i];
    const SettingName& option = setting_names[i];
    const std::string name = std::string("--").append(option.name);
    if (bounds.setting == Setting::fft_size) {
      add_checked(name, option.description, "Settings", true, bounds.minimum, bounds.maximum,
                  &setting_values[i]);
      continue;
    }
    const double maximum = bounds.maximum;
    const std::string default_text = number_text(setting_value(defaults, bounds.setting));
    add_checked(name,
                std::string(option.description) + " [default " + default_text + ", " +
                    number_text(bounds.minimum) + " to " + number_text(maximum) + "]",
                "Settings", bounds.kind == SettingKind::whole, bounds.minimum, maximum,
                &setting_values[i]);
  }
  double a4 = default_a4;
  add_checked("--a4",
              "Frequency of A4 for note names and cents, Hz [default " + number_text(default_a4) +
                  ", " + number_text(min_a4) + " to " + number_text(max_a4) + "]",
              "Settings", false, min_a4, max_a4, &a4);

  // A target to tune against.
  std::string expect;
  app.add_option("--expect", expect,
                 "The notes the tones should sound: names or MIDI numbers, one per tone in "
                 "order (C4,D4,E4 or @FILE, one a line), filename (the note in each file's "
                 "name) or smpl (each WAVE file's sampler chunk)")
      ->type_name("SOURCE")
      ->group("Tuning");
  std::string temperament;
  std::string temperament_list;
  for (const BuiltInTemperament& t : built_in_temperaments) {
    temperament_list += (temperament_list.empty() ? "" : ", ") + std::string(t.name);
  }
  app.add_option("--temperament", temperament,
                 "The temperament the targets lie in: " + temperament_list +
                     ", or a Scala scale file (.scl) [default equal]")
      ->type_name("NAME|FILE")
      ->group("Tuning");
  std::string root = "C";
  app.add_option("--temperament-root", root,
                 "The note the temperament is laid on, e.g. C, F#, Bb [default C]")
      ->type_name("NOTE")
      ->group("Tuning");
  double stretch = 0.0;
  add_checked("--stretch",
              "Octaves wider than 2:1 by this much, cents per octave from A4 [default 0, -" +
                  number_text(max_stretch_cents) + " to " + number_text(max_stretch_cents) + "]",
              "Tuning", false, -max_stretch_cents, max_stretch_cents, &stretch);
  const std::size_t stretch_index = checked.size() - 1;

  if (table != nullptr) {
    for (const CLI::Option* option : app.get_options()) {
      OptionDescription entry;
      const std::vector<std::string>& long_names = option->get_lnames();
      entry.name = long_names.empty() ? option->get_name() : "--" + long_names.front();
      if (!option->get_snames().empty()) entry.short_name = "-" + option->get_snames().front();
      entry.group = option->get_group();
      entry.help = option->get_description();
      entry.default_value = default_of(entry.help);
      entry.positional = long_names.empty() && option->get_snames().empty();
      // A flag takes no value, and so has no value's name.
      entry.kind = option->get_type_name().empty() ? "flag" : option->get_type_name();
      const std::string name = entry.name;
      const auto bound = std::find_if(checked.begin(), checked.end(), [&name](const Checked& c) {
        return c.option == name;
      });
      if (bound != checked.end()) {
        entry.minimum = bound->minimum;
        entry.maximum = bound->maximum;
      }
      table->push_back(std::move(entry));
    }
    return {false, 0};
  }

  const auto usage_error = [&err](const std::string& problem) {
    err << "toneprint-batch: " << problem << "\nRun with --help for more information.\n";
    return ParseOutcome{false, 2};
  };
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return {false, app.exit(help, out, err)};
  } catch (const CLI::RequiredError&) {
    if (version) {
      out << version_text();
      return {false, 0};
    }
    return usage_error(compare ? "compare needs two sets or more" : "no recording given");
  } catch (const CLI::ArgumentMismatch& error) {
    const std::string text = error.what();
    return usage_error(text.substr(0, text.find(':')) + " needs a value");
  } catch (const CLI::ParseError& error) {
    if (const std::string unknown = unknown_option(app, argc, argv); !unknown.empty()) {
      return usage_error(unknown);
    }
    std::string text = error.what();
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return usage_error(text);
  }
  if (version) {
    out << version_text();
    return {false, 0};
  }

  for (const Checked& value : checked) {
    if (value.text.empty()) continue;
    if (const std::string problem =
            read_value(value.text, value.whole, value.minimum, value.maximum, *value.value);
        !problem.empty()) {
      return usage_error(value.option + ": " + problem);
    }
  }
  GivenSettings given;
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    if (checked[i + 2].text.empty()) continue;  // after --jobs and --tail-depth
    const double value = setting_values[i];
    if (setting_bounds[i].setting == Setting::fft_size && !is_fft_size(value)) {
      return usage_error("--fft-size: " + checked[i + 2].text + " is not one of " +
                         fft_size_list());
    }
    given[i] = value;
  }

  if (channel != "mix") {
    const bool digits = !channel.empty() && std::all_of(channel.begin(), channel.end(), [](char c) {
      return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    std::uint32_t number = 0;
    std::istringstream text(channel);
    if (!digits || !(text >> number) || number == 0) {
      return usage_error("--channel: " + channel + " is neither a channel number (from 1) nor mix");
    }
    options.channel.channel = number;
  }
  options.settings = given;
  const std::optional<double> hop = options.given(Setting::fft_hop);
  const std::optional<double> fft_size = options.given(Setting::fft_size);
  if (hop && fft_size && *hop > *fft_size) {
    return usage_error("--hop: " + number_text(*hop) + " is longer than --fft-size " +
                       number_text(*fft_size));
  }
  // The tail's depth only matters where a tail is followed: asked for alone,
  // it is more likely a forgotten option than a wish.
  if (!checked[1].text.empty() && !robust.follow_tail && !all_robust) {
    return usage_error("--tail-depth needs --follow-tail or --robust");
  }
  const std::optional<std::string> extension_format =
      output.empty() || output == "-" ? std::nullopt : format_of_extension(output);
  if (compare && recordings.size() < 2) return usage_error("compare needs two sets or more");
  const auto chosen = std::find_if(output_formats.begin(), output_formats.end(),
                                   [&](const OutputFormatName& f) { return format == f.name; });
  // A comparison is written as a table or a page.
  if (compare && ((!format.empty() && format != "csv" && format != "html") ||
                  (format.empty() && extension_format && *extension_format == "json"))) {
    return usage_error("compare writes csv or html, not " + (format.empty() ? output : format));
  }
  if (!format.empty() && chosen == output_formats.end()) {
    std::string names;
    for (const OutputFormatName& f : output_formats) {
      names += names.empty() ? "" : ", ";
      names += f.name;
    }
    return usage_error("--format: " + format + " is not one of " + names);
  }
  if (!format.empty() && extension_format &&
      (chosen->file_kind == nullptr || *extension_format != chosen->file_kind)) {
    return usage_error("--format " + format + " contradicts the output's name " + output +
                       "; leave out --format or name the output ." +
                       (chosen->file_kind != nullptr ? chosen->file_kind : "txt"));
  }
  if (format.empty()) format = extension_format.value_or("csv");
  if (std::count(recordings.begin(), recordings.end(), standard_input_name) > 1) {
    return usage_error("- (standard input) is given more than once");
  }
  if (std::count(recordings.begin(), recordings.end(), standard_input_name) == 1 &&
      standard_input_is_terminal()) {
    return usage_error(
        "-: standard input is a terminal; pipe or redirect a recording into it");
  }
  if (compare) {
    // Each set by itself: a folder's audio files, or the file named.
    for (const std::string& name : recordings) {
      SetSource set;
      set.name = name;
      set.stored = is_results_file(name);
      std::vector<std::string> errors;
      set.recordings = set.stored ? std::vector<std::string>{name}
                                  : expand_folders({name}, recursive, errors);
      if (!errors.empty()) {
        set.error = errors.front();
      } else if (set.recordings.empty()) {
        set.error = "no audio files in it";
      }
      options.recordings.insert(options.recordings.end(), set.recordings.begin(),
                                set.recordings.end());
      options.sets.push_back(std::move(set));
    }
    options.compare = true;
  } else {
    options.recordings = expand_folders(recordings, recursive, options.folder_errors);
  }
  if (!compare && options.recordings.empty() && options.folder_errors.empty()) {
    return usage_error("no audio files in the folders given");
  }
  if (format == "classic" && options.recordings.size() != 1) {
    return usage_error("--format classic takes a single recording");
  }
  if (format == "classic" && partials) {
    return usage_error(
        "--partials cannot go in --format classic, toneprint's own report; use csv, "
        "partials-csv, json or html");
  }

  options.a4 = a4;
  const bool tuned = !expect.empty() || !temperament.empty() || root != "C" ||
                     !checked[stretch_index].text.empty();
  if (tuned && format == "classic") {
    return usage_error(
        "--expect, --temperament, --temperament-root and --stretch cannot go in --format "
        "classic, toneprint's own report; use csv, json or html");
  }
  if (tuned) {
    Tuning tuning;
    tuning.a4 = a4;
    tuning.stretch_cents = stretch;
    if (!temperament.empty()) {
      TemperamentRead read = read_temperament(temperament);
      if (!read.temperament) return usage_error("--temperament: " + read.error);
      tuning.temperament = std::move(*read.temperament);
    }
    const std::optional<int> pitch_class = parse_pitch_class(root);
    if (!pitch_class) {
      return usage_error("--temperament-root: " + root + " is not a note name such as C, F# or Bb");
    }
    tuning.root = *pitch_class;
    options.tuning = std::move(tuning);
  }
  if (!expect.empty()) {
    ExpectationParse parsed = parse_expectation(expect);
    if (!parsed.error.empty()) return usage_error("--expect: " + parsed.error);
    options.expectation = std::move(parsed.expectation);
  }
  if (all_robust) robust = all_robust_changes();
  robust.tail_depth_db = tail_depth;
  options.robust = robust;
  options.partials = partials;
  for (const OutputFormatName& f : output_formats) {
    if (format == f.name) options.format = f.format;
  }
  // The partials table asks for what it shows.
  if (options.format == OutputFormat::partials_csv) options.partials = true;
  options.output = output == "-" ? std::string() : output;
  options.force = force;
  options.jobs = checked[0].text.empty() ? processors : static_cast<unsigned>(jobs_value);
  options.quiet = quiet;
  return {true, 0};
}

}  // namespace

ParseOutcome parse_options(int argc, const char* const* argv, BatchOptions& options,
                           std::ostream& out, std::ostream& err) {
  return parse_or_describe(argc, argv, options, out, err, nullptr);
}

std::vector<OptionDescription> option_table() {
  const char* const argv[] = {"toneprint-batch"};
  BatchOptions options;
  std::ostringstream ignored;
  std::vector<OptionDescription> table;
  parse_or_describe(1, argv, options, ignored, ignored, &table);
  return table;
}

std::string settings_for(const BatchOptions& options, std::uint32_t sample_rate,
                         AnalysisSettings& settings) {
  if (settings_with(options.settings, sample_rate, settings)) return {};
  return "--hop " + number_text(*options.given(Setting::fft_hop)) +
         " is longer than the FFT size " + std::to_string(settings.fft_size) + " used at " +
         std::to_string(sample_rate) + " Hz; give --fft-size too";
}

}  // namespace toneprint
