// The page's module: toneprint-batch's own option parser, run and writers,
// compiled to WebAssembly and called from a Worker. Recordings are files of
// Emscripten's memory file system, so that they are read, named and
// reported exactly as toneprint-batch reads, names and reports a file; the
// samples a browser decoded are stored there as a 32-bit float WAVE file,
// which the WAVE reader takes back without a change of value.

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "batch/batch_options.h"
#include "batch/batch_run.h"
#include "batch/result_writers.h"
#include "toneprint/toneprint.h"

namespace toneprint {
namespace {

using emscripten::val;

// Where the recordings of a run lie; the run is made in this folder, so
// that each is named as the user named it.
constexpr const char* recordings_folder = "/recordings";

// Copies a typed array's bytes to `file` a block at a time, so that a long
// recording never lies whole in the module's memory; false when the file
// could not be written.
bool copy_bytes(const val& bytes, std::FILE* file) {
  const auto length = bytes["length"].as<std::size_t>();
  // The memory file system grows a file by an eighth at a time, copying it
  // each time; sized once, a long recording is copied once.
  if (::ftruncate(fileno(file), static_cast<off_t>(length)) != 0) return false;
  std::vector<unsigned char> block(std::size_t{1} << 20);
  for (std::size_t offset = 0; offset < length; offset += block.size()) {
    const std::size_t count = std::min(block.size(), length - offset);
    val(emscripten::typed_memory_view(count, block.data()))
        .call<void>("set", bytes.call<val>("subarray", offset, offset + count));
    if (std::fwrite(block.data(), 1, count, file) != count) return false;
  }
  return true;
}

// A text as a JavaScript string, decoded by the browser's own UTF-8
// decoder: embind's conversion of a std::string walks a report of a
// megabyte byte by byte, twice.
val text_of(const std::string& text) {
  static const val decoder = val::global("TextDecoder").new_();
  return decoder.call<val>("decode", val(emscripten::typed_memory_view(
                                         text.size(), reinterpret_cast<const unsigned char*>(text.data()))));
}

void put_u16(std::FILE* file, std::uint32_t value) {
  const std::array<unsigned char, 2> bytes = {static_cast<unsigned char>(value),
                                              static_cast<unsigned char>(value >> 8)};
  std::fwrite(bytes.data(), 1, bytes.size(), file);
}

void put_u32(std::FILE* file, std::uint32_t value) {
  put_u16(file, value & 0xFFFFu);
  put_u16(file, value >> 16);
}

// Stores interleaved float samples (full scale 1.0) as a WAVE file of
// 32-bit IEEE floats; empty, or why it cannot.
std::string store_samples(const std::string& path, const val& samples, std::uint32_t rate,
                          std::uint32_t channels) {
  if (rate == 0 || channels == 0 || channels > 0xFFFF) {
    return "the decoded audio has " + std::to_string(channels) + " channels at " +
           std::to_string(rate) + " Hz";
  }
  // embind has no 64-bit integers here: a length is a double, exact to 2^53.
  const auto count = static_cast<std::uint64_t>(samples["length"].as<double>());
  const std::uint64_t data_bytes = count * 4;
  if (data_bytes > 0xFFFFFFFFull - 36) return "the decoded audio is too long for a WAVE file";
  std::FILE* const file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return "cannot store the decoded audio";
  std::fwrite("RIFF", 1, 4, file);
  put_u32(file, static_cast<std::uint32_t>(36 + data_bytes));
  std::fwrite("WAVEfmt ", 1, 8, file);
  put_u32(file, 16);
  put_u16(file, 3);  // IEEE float
  put_u16(file, channels);
  put_u32(file, rate);
  put_u32(file, rate * channels * 4);
  put_u16(file, channels * 4);
  put_u16(file, 32);
  std::fwrite("data", 1, 4, file);
  put_u32(file, static_cast<std::uint32_t>(data_bytes));
  // The bytes as they lie in memory: WebAssembly is little-endian, as WAVE is.
  const val bytes = val::global("Uint8Array")
                        .new_(samples["buffer"], samples["byteOffset"], samples["byteLength"]);
  const bool written = copy_bytes(bytes, file);
  return std::fclose(file) == 0 && written ? "" : "cannot store the decoded audio";
}

// A text written through a FILE, as the batch's writers write.
class MemoryFile {
 public:
  MemoryFile() : file_(open_memstream(&text_, &size_)) {}
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(text_);
  }
  std::FILE* file() const { return file_; }
  std::string text() {
    std::fflush(file_);
    return text_ == nullptr ? std::string() : std::string(text_, size_);
  }

 private:
  char* text_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

// The file name a recording is stored under: its own, without folders, and
// made unique within the run.
std::string stored_name(std::string name, const std::vector<std::string>& taken) {
  std::replace_if(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\'; }, '_');
  // "-" would be standard input.
  if (name.empty() || name == "." || name == ".." || name == standard_input_name) {
    name = "recording";
  }
  const std::string base = name;
  for (int copy = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++copy) {
    name = base + " (" + std::to_string(copy) + ")";
  }
  return name;
}

// The words of toneprint-batch's command line: its name, then `args` (a
// JavaScript array of strings).
std::vector<std::string> command_words(const val& args) {
  std::vector<std::string> words = {"toneprint-batch"};
  const auto arg_count = args["length"].as<std::size_t>();
  for (std::size_t i = 0; i < arg_count; ++i) words.push_back(args[i].as<std::string>());
  return words;
}

// The words as a program's argv; they must outlive it.
std::vector<const char*> argv_of(const std::vector<std::string>& words) {
  std::vector<const char*> argv(words.size());
  std::transform(words.begin(), words.end(), argv.begin(),
                 [](const std::string& word) { return word.c_str(); });
  return argv;
}

// Parses `args` as toneprint-batch parses its options for the recordings
// `names`, which follow "--" so that a name is never taken for an option.
ParseOutcome parse_for(const val& args, const std::vector<std::string>& names,
                       BatchOptions& batch, std::ostream& errors) {
  std::vector<std::string> words = command_words(args);
  words.emplace_back("--");
  words.insert(words.end(), names.begin(), names.end());
  const std::vector<const char*> argv = argv_of(words);
  std::ostringstream ignored;
  return parse_options(static_cast<int>(argv.size()), argv.data(), batch, ignored, errors);
}

// Stores each input as a file of the recordings' folder (made the working
// folder), adding its name to `names` and a line to `errors` for one that
// could not be stored; the inputs as the result describes them: [{name,
// decoder}].
val store_inputs(const val& inputs, std::vector<std::string>& names, std::ostream& errors) {
  val described = val::array();
  std::filesystem::create_directories(recordings_folder);
  std::filesystem::current_path(recordings_folder);
  const auto input_count = inputs["length"].as<std::size_t>();
  for (std::size_t i = 0; i < input_count; ++i) {
    const val input = inputs[i];
    const std::string name = stored_name(input["name"].as<std::string>(), names);
    std::string decoder = "toneprint's WAVE reader";
    std::string problem;
    if (input["samples"].isUndefined()) {
      std::FILE* const file = std::fopen(name.c_str(), "wb");
      const bool written = file != nullptr && copy_bytes(input["bytes"], file);
      if (file == nullptr || std::fclose(file) != 0 || !written) problem = "cannot store the file";
    } else {
      decoder = input["decoder"].as<std::string>();
      problem = store_samples(name, input["samples"], input["rate"].as<std::uint32_t>(),
                              input["channels"].as<std::uint32_t>());
    }
    if (!problem.empty()) errors << "toneprint-batch: " << name << ": " << problem << "\n";
    names.push_back(name);
    val entry = val::object();
    entry.set("name", name);
    entry.set("decoder", decoder);
    described.call<void>("push", entry);
  }
  return described;
}

// Runs toneprint-batch's options `args` over the stored recordings `names`
// (unless storing them gave `errors`): where it would run, `run` gets the
// options, set for one job and no output file, and says whether every
// recording was read. The recordings are removed afterwards. The exit
// status toneprint-batch would give.
int run_stored(const val& args, const std::vector<std::string>& names, std::ostringstream& errors,
               const std::function<bool(BatchOptions&)>& run) {
  int status = 1;
  if (errors.str().empty()) {
    BatchOptions batch;
    const ParseOutcome parsed = parse_for(args, names, batch, errors);
    status = parsed.exit_code;
    if (parsed.run) {
      batch.output.clear();
      batch.jobs = 1;
      status = run(batch) ? 0 : 1;
    }
  }
  for (const std::string& name : names) {
    std::error_code ignored_error;
    std::filesystem::remove(name, ignored_error);
  }
  return status;
}

// Analyses the inputs as toneprint-batch analyses files given with `args`.
// Each input is {name, bytes: Uint8Array} for a file read by the WAVE
// reader, or {name, samples: Float32Array, rate, channels, decoder} for
// audio the browser decoded. `progress(index, read, frames)` is called as
// each is read. The result: {status, csv, json, html, errors, inputs: [{name,
// decoder}]}; status and errors are toneprint-batch's exit status and
// standard error.
val analyse(const val& args, const val& inputs, const val& progress) {
  val result = val::object();
  std::ostringstream errors;
  std::vector<std::string> names;
  const val described = store_inputs(inputs, names, errors);
  result.set("inputs", described);

  std::string csv, json, html;
  const int status = run_stored(args, names, errors, [&](BatchOptions& batch) {
    // The page gets every format at once from one analysis; the levels are
    // kept for the page's drawing, as a run with -f html keeps them.
    batch.format = OutputFormat::html;
    BatchOptions csv_options = batch, json_options = batch;
    csv_options.format = OutputFormat::csv;
    json_options.format = OutputFormat::json;
    MemoryFile csv_file, json_file, html_file;
    const auto csv_writer = make_writer(csv_options, csv_file.file());
    const auto json_writer = make_writer(json_options, json_file.file());
    const auto html_writer = make_writer(batch, html_file.file());
    ResultWriter* const writers[] = {csv_writer.get(), json_writer.get(), html_writer.get()};
    const ProgressReport report = [&progress](std::size_t index, const Progress& done) {
      progress(index, static_cast<double>(done.read.load()),
               static_cast<double>(done.frames.load()));
    };
    const bool all_read =
        write_results(batch, writers, errors, progress.isUndefined() ? ProgressReport{} : report);
    csv = csv_file.text();
    json = json_file.text();
    html = html_file.text();
    return all_read;
  });
  result.set("status", status);
  result.set("errors", errors.str());
  result.set("csv", text_of(csv));
  result.set("json", text_of(json));
  result.set("html", text_of(html));
  return result;
}

// Hands each result to `next` with its positions moved by `offset` samples,
// so that a part of a take analysed alone gives the rows (times and all) of
// the same tones in the whole take; keeps the last result for the caller.
class ShiftingWriter : public ResultWriter {
 public:
  ShiftingWriter(ResultWriter& next, std::uint64_t offset) : next_(next), offset_(offset) {}
  void recording(const RecordingResult& result) override {
    last_ = result;
    for (ToneRecord& tone : last_.tones) {
      tone.start += offset_;
      tone.end += offset_;
      for (MeasuredPass& pass : tone.passes) pass.first += offset_;
      for (FailedPass& failure : tone.failures) failure.first += offset_;
    }
    next_.recording(last_);
  }
  void finish(const std::optional<BestReference>& best) override { next_.finish(best); }
  const RecordingResult& last() const { return last_; }

 private:
  ResultWriter& next_;
  std::uint64_t offset_;
  RecordingResult last_;
};

// The lighter analysis that a take's live display makes several times a
// second: `input` ({name, bytes}, a WAVE file) is the part of the take from
// sample `offset` on, analysed with `args` into CSV rows only. The result:
// {status, errors, csv, rate, silence (samples of quiet that end a tone),
// threshold, tones: [{start, end}] (the take's positions), pass: the last
// tone's last pass as {hz, note, cents} against the tuning, or null}.
val analyse_live(const val& args, const val& input, double offset) {
  val result = val::object();
  std::ostringstream errors;
  std::vector<std::string> names;
  const val inputs = val::array();
  inputs.call<void>("push", input);
  store_inputs(inputs, names, errors);

  std::string csv;
  val tones = val::array();
  val pass = val::null();
  const int status = run_stored(args, names, errors, [&](BatchOptions& batch) {
    batch.format = OutputFormat::csv;
    MemoryFile csv_file;
    const auto csv_writer = make_writer(batch, csv_file.file());
    ShiftingWriter shifting(*csv_writer, static_cast<std::uint64_t>(std::max(0.0, offset)));
    ResultWriter* const writers[] = {&shifting};
    const bool all_read = write_results(batch, writers, errors);
    csv = csv_file.text();
    const RecordingResult& done = shifting.last();
    for (const ToneRecord& tone : done.tones) {
      val entry = val::object();
      entry.set("start", static_cast<double>(tone.start));
      entry.set("end", static_cast<double>(tone.end));
      tones.call<void>("push", entry);
    }
    if (!done.tones.empty() && !done.tones.back().passes.empty()) {
      const double hz = done.tones.back().passes.back().fundamental;
      Tuning tuning = batch.tuning.value_or(Tuning{});
      tuning.a4 = batch.a4;
      const TargetNote target = nearest_target(tuning, hz);
      pass = val::object();
      pass.set("hz", hz);
      pass.set("note", note_name(target.midi));
      pass.set("cents", target.cents);
    }
    result.set("rate", done.settings.sample_rate);
    result.set("silence",
               duration_samples(done.settings.sample_rate, done.settings.silence_seconds));
    result.set("threshold", done.settings.silence_threshold);
    return all_read;
  });
  result.set("status", status);
  result.set("errors", errors.str());
  result.set("csv", text_of(csv));
  result.set("tones", tones);
  result.set("pass", pass);
  return result;
}

// What toneprint-batch says of `args` before any work: its usage error, or
// empty when it would run them.
std::string check(const val& args) {
  BatchOptions batch;
  std::ostringstream errors;
  // A recording that is never read, for the parser's sake.
  parse_for(args, {"recording.wav"}, batch, errors);
  return errors.str();
}

// toneprint-batch's options, as its --help describes them.
val options() {
  val list = val::array();
  for (const OptionDescription& option : option_table()) {
    val entry = val::object();
    entry.set("name", option.name);
    entry.set("short", option.short_name);
    entry.set("group", option.group);
    entry.set("kind", option.kind);
    entry.set("default", option.default_value);
    entry.set("help", option.help);
    entry.set("positional", option.positional);
    if (option.minimum) entry.set("minimum", *option.minimum);
    if (option.maximum) entry.set("maximum", *option.maximum);
    list.call<void>("push", entry);
  }
  return list;
}

std::string version() { return version_text(); }

}  // namespace
}  // namespace toneprint

EMSCRIPTEN_BINDINGS(toneprint) {
  emscripten::function("analyse", &toneprint::analyse);
  emscripten::function("analyseLive", &toneprint::analyse_live);
  emscripten::function("check", &toneprint::check);
  emscripten::function("options", &toneprint::options);
  emscripten::function("version", &toneprint::version);
}
