#pragma once

// toneprint-batch's command line: every analysis setting, the reference
// pitch, the channel, the output and its format, the jobs, and the
// recordings (a folder stands for the audio files in it, in name order, and
// - for standard input).

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "toneprint/toneprint.h"

namespace toneprint {

enum class OutputFormat { csv, partials_csv, json, classic, html };

// Each format by its name for --format, with the kind of file it writes
// (which an output's extension names).
struct OutputFormatName {
  const char* name;
  OutputFormat format;
  const char* file_kind;  // "csv", "json", "html", or null for plain text
};
inline constexpr std::array<OutputFormatName, 5> output_formats = {{
    {"csv", OutputFormat::csv, "csv"},
    {"partials-csv", OutputFormat::partials_csv, "csv"},
    {"json", OutputFormat::json, "json"},
    {"classic", OutputFormat::classic, nullptr},
    {"html", OutputFormat::html, "html"},
}};

// A set of tones that toneprint-batch compare compares: a recording, a
// folder (its audio files) or a file of stored results.
struct SetSource {
  std::string name;  // as given on the command line
  bool stored = false;  // a file of results (.json), read rather than analysed
  std::vector<std::string> recordings;  // the recordings analysed for it
  std::string error;  // why it cannot be read (a folder that cannot be listed, or without audio)
};

struct BatchOptions {
  // The analysis settings given on the command line, in the order of
  // setting_bounds; the FFT size is held as its menu choice. The others take
  // each recording's defaults.
  GivenSettings settings;
  // The value given for one setting, if any.
  std::optional<double> given(Setting setting) const;
  double a4 = default_a4;
  // What the tones are judged against, when a target was asked for (an
  // expectation, a temperament or a stretch; its a4 is the one above), and
  // the notes they are expected to sound.
  std::optional<Tuning> tuning;
  Expectation expectation;
  RobustSettings robust;  // all off unless asked for
  bool partials = false;  // each partial measured at its own frequency
  ChannelChoice channel;
  OutputFormat format = OutputFormat::csv;
  std::string output;  // empty for standard output
  bool force = false;
  unsigned jobs = 1;
  bool quiet = false;
  std::vector<std::string> recordings;
  // toneprint-batch compare: the sets, in order, the first the reference;
  // `recordings` then lists every file they name.
  bool compare = false;
  std::vector<SetSource> sets;
  // "FOLDER: reason" for each folder that could not be listed; the run
  // reports them and ends with status 1.
  std::vector<std::string> folder_errors;
};

// What parse_options decided.
struct ParseOutcome {
  bool run;       // analyse the recordings; otherwise end with exit_code
  int exit_code;  // 0 after --help or --version, 2 after a usage error
};

// The subcommand that compares sets of tones, given as the first argument.
inline constexpr const char* compare_command = "compare";

// Parses the command line (toneprint-batch's own, or compare's). Help and
// the version go to `out`, usage errors
// (with the bounds of a value out of them) to `err`.
ParseOutcome parse_options(int argc, const char* const* argv, BatchOptions& options,
                           std::ostream& out, std::ostream& err);

// One of the options as --help describes it, for a form that offers them.
struct OptionDescription {
  std::string name;        // "--harmonics", or the positional's name ("RECORDING")
  std::string short_name;  // "-o", or empty
  std::string group;       // --help's heading: "Input", "Output", "Modes", ...
  std::string kind;        // "flag", "N" (whole), "X" (number), or the value's name ("FILE")
  std::string default_value;  // as the help states it, or empty
  std::optional<double> minimum, maximum;  // the bounds of a number
  std::string help;
  bool positional = false;
};

// toneprint-batch's options (not compare's), in --help's order.
std::vector<OptionDescription> option_table();

// The settings for a recording of this sample rate: its defaults with the
// given values stored over them. Empty, or why they cannot serve (a hop
// longer than the FFT).
std::string settings_for(const BatchOptions& options, std::uint32_t sample_rate,
                         AnalysisSettings& settings);

// The option's name of setting_bounds[index], e.g. "--harmonics".
std::string setting_option_name(std::size_t index);


// The program's name and version, with the readers built in.
std::string version_text();

}  // namespace toneprint
