// The Python module: the analysis of the programs on numpy arrays and on
// files, for scripts and notebooks.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "toneprint/toneprint.h"
#include "python/bindings.h"

namespace toneprint::python {
namespace {

// Where the analysis of a recording stands.
struct Analysis {
  std::unique_ptr<SampleSource> source;
  RecordingResult result;
};

AnalysisOptions run_for(const CallOptions& options) {
  AnalysisOptions run;
  run.robust = options.robust;
  run.partials = options.partials;
  return run;
}

// Analyses with the interpreter free for other threads.
void analyse_released(Analysis& analysis, const Reopen& reopen, const CallOptions& options) {
  std::atomic<std::uint64_t> read{0};
  const py::gil_scoped_release release;
  analyse_source(analysis.source, reopen, run_for(options), analysis.result, read);
}

void warn(const std::string& line) {
  if (PyErr_WarnEx(PyExc_UserWarning, line.c_str(), 2) != 0) throw py::error_already_set();
}

// Results that look confident but are not, as warnings: the lines that
// toneprint-batch prints on standard error.
void warn_of_doubts(const RecordingResult& result) {
  for (const std::string& line : result_warnings(result)) warn(line);
}

// Gives the tones the notes expected of them (a list's from position
// `next` on, which moves past the notes given) and lets the octave guard
// check them, reading the recording again through `guard` with the
// interpreter free. What stands in the way is a warning, as toneprint-batch
// prints it, and the tones stand as found.
void judge(RecordingResult& result, const CallOptions& options,
           const std::function<std::string(const AnalysisOptions&)>& guard, std::size_t& next) {
  if (!options.tuning) return;
  std::vector<std::string> problems;
  const std::size_t before = next;
  if (std::string unexpected = expect_notes(result, options.expectation, next);
      !unexpected.empty()) {
    problems.push_back(std::move(unexpected));
  }
  const std::size_t listed = options.expectation.notes.size();
  if (options.expectation.kind == ExpectationKind::list && before < listed && next == listed &&
      next - before < result.tones.size()) {
    problems.push_back("the " + std::to_string(listed) + " expected notes end before tone " +
                       std::to_string(next - before + 1));
  }
  const AnalysisOptions run = run_for(options);
  const bool expected =
      std::any_of(result.tones.begin(), result.tones.end(),
                  [](const ToneRecord& tone) { return tone.expected.has_value(); });
  if (expected && guards_octaves(run)) {
    std::string problem;
    {
      const py::gil_scoped_release release;
      problem = guard(run);
    }
    if (!problem.empty()) {
      problems.push_back("the octave guard could not read the recording again: " + problem +
                         "; its tones stand as found");
    }
  }
  for (const std::string& line : problems) warn(line);
}

// The warning for a list of expected notes that the tones did not use up.
void warn_of_notes_left(const CallOptions& options, std::size_t next, std::size_t tones,
                        const char* whose) {
  const std::size_t listed = options.expectation.notes.size();
  if (options.tuning && options.expectation.kind == ExpectationKind::list && next < listed) {
    warn(std::to_string(listed - next) + " of the " + std::to_string(listed) +
         " expected notes were left over: " + whose + " " + std::to_string(tones) + " tones");
  }
}

template <typename Sample>
py::list analyse_array(const py::array& samples, std::uint32_t sample_rate,
                       const GivenSettings& given, const CallOptions& options, double scale) {
  // A C-ordered copy of a strided or byte-swapped array; the array itself
  // otherwise. It is kept while the analysis reads it.
  const auto frames = py::array_t<Sample, py::array::c_style | py::array::forcecast>::ensure(samples);
  if (!frames) throw py::error_already_set();
  const py::ssize_t channels = frames.ndim() == 2 ? frames.shape(1) : 1;
  if (channels == 0) throw py::value_error("samples has no channels (its shape is (n, 0))");
  // More channels than a recording may have: an array the wrong way round.
  if (channels > py::ssize_t{max_channels}) {
    throw py::value_error("samples has " + std::to_string(channels) +
                          " channels; an array is frames x channels, with at most " +
                          std::to_string(max_channels) +
                          " channels (transpose a channels x frames array: samples.T)");
  }

  RecordingFormat format;
  format.sample_rate = sample_rate;
  format.channels = static_cast<std::uint32_t>(channels);
  Analysis analysis;
  analysis.result.settings = settings_at(given, sample_rate);
  analysis.source = memory_source(
      std::span<const Sample>(frames.data(), static_cast<std::size_t>(frames.size())), format,
      options.channel, scale);
  if (!analysis.source->error().empty()) throw py::value_error(analysis.source->error());
  const Reopen cannot_reopen = [](std::string& error) {
    error = "the samples could not be read again";
    return std::unique_ptr<SampleSource>();
  };
  analyse_released(analysis, cannot_reopen, options);
  // The samples, still held, are read again where the guard asks.
  std::size_t next = 0;
  judge(
      analysis.result, options,
      [&](const AnalysisOptions& run) {
        if (analysis.source == nullptr) return std::string("the samples could not be read again");
        return guard_octaves(analysis.result, *options.tuning, *analysis.source, run);
      },
      next);
  warn_of_notes_left(options, next, analysis.result.tones.size(), "the recording has");
  warn_of_doubts(analysis.result);
  return tones_of(analysis.result, options.a4, options.tuning);
}

py::list analyse(const py::object& samples, const py::handle& sample_rate, const py::handle& a4,
                 const py::handle& channel, const py::handle& robust, const py::handle& partials,
                 const TargetKeywords& target, const py::kwargs& keywords) {
  const GivenSettings given = given_settings(keywords);
  CallOptions options = call_options(a4, channel, robust, partials);
  set_target(options, target);
  // An array has neither a file name nor a sampler chunk to take notes from.
  if (options.expectation.kind == ExpectationKind::file_name ||
      options.expectation.kind == ExpectationKind::sampler) {
    throw py::value_error(
        std::string("expect: ") +
        (options.expectation.kind == ExpectationKind::file_name ? "'filename'" : "'smpl'") +
        " takes the notes from a recording file, which an array is not; give the notes, or "
        "use analyse_file()");
  }
  const std::uint32_t rate = sample_rate_from(sample_rate);
  const py::array array = py::array::ensure(samples);
  if (!array) {
    PyErr_Clear();
    throw py::type_error("samples must be a numpy array or convertible to one");
  }
  if (array.ndim() != 1 && array.ndim() != 2) {
    throw py::value_error("samples must be 1-D (frames) or 2-D (frames x channels), not " +
                          std::to_string(array.ndim()) + "-D");
  }
  const py::dtype type = array.dtype();
  const char kind = type.kind();
  const py::ssize_t size = type.itemsize();
  // Integers' full scale to the 16-bit scale, as the readers bring a file's
  // samples (unsigned ones are offset by their midpoint first, as 8-bit WAVE
  // samples are); floats' full scale 1.0 to 32768.
  if (kind == 'i' || kind == 'u') {
    const bool is_signed = kind == 'i';
    switch (size) {
      case 1:
        return is_signed ? analyse_array<std::int8_t>(array, rate, given, options, 256.0)
                         : analyse_array<std::uint8_t>(array, rate, given, options, 256.0);
      case 2:
        return is_signed ? analyse_array<std::int16_t>(array, rate, given, options, 1.0)
                         : analyse_array<std::uint16_t>(array, rate, given, options, 1.0);
      case 4:
        return is_signed ? analyse_array<std::int32_t>(array, rate, given, options, 0x1p-16)
                         : analyse_array<std::uint32_t>(array, rate, given, options, 0x1p-16);
      case 8:
        return is_signed ? analyse_array<std::int64_t>(array, rate, given, options, 0x1p-48)
                         : analyse_array<std::uint64_t>(array, rate, given, options, 0x1p-48);
      default:
        break;
    }
  }
  if (kind == 'f') {
    // float16 is widened to float32 exactly, a long double rounded to
    // double: each in one converted copy.
    if (size <= 4) return analyse_array<float>(array, rate, given, options, 32768.0);
    return analyse_array<double>(array, rate, given, options, 32768.0);
  }
  throw py::type_error("samples must be real integers or floats, not " +
                       py::str(static_cast<const py::handle&>(type)).cast<std::string>());
}

// "equal, pythagorean, ...", the built-in temperaments' names.
std::string temperament_names() {
  std::string names;
  for (const BuiltInTemperament& temperament : built_in_temperaments) {
    names += (names.empty() ? "" : ", ") + std::string(temperament.name);
  }
  return names;
}

// A message of the readers as Python text; bytes that are not UTF-8 (from
// a file name) are replaced rather than refused.
py::str text_of(const std::string& message) {
  PyObject* text =
      PyUnicode_DecodeUTF8(message.data(), static_cast<py::ssize_t>(message.size()), "replace");
  if (text == nullptr) throw py::error_already_set();  // out of memory
  return py::reinterpret_steal<py::str>(text);
}

// Raises ReadError with "PATH: reason" and the tones found before it.
[[noreturn]] void raise_read_error(const py::object& read_error, const py::bytes& path,
                                   const std::string& reason, const py::list& tones) {
  const py::module_ os = py::module_::import("os");
  py::object error = read_error(py::str("{}: {}").format(os.attr("fsdecode")(path), text_of(reason)));
  error.attr("tones") = tones;
  PyErr_SetObject(read_error.ptr(), error.ptr());
  throw py::error_already_set();
}

// The recording at `path` (str, bytes or a path object, in any encoding the
// file system takes) analysed as analyse_file() analyses it, a list of
// expected notes taken from position `next` on. Raises ReadError, with the
// tones found, when it cannot be opened or read to its end.
RecordingResult analyse_path(const py::handle& path, const GivenSettings& given,
                             const CallOptions& options, std::size_t& next,
                             const py::object& read_error) {
  const py::bytes encoded = py::module_::import("os").attr("fsencode")(path);
  const std::string name = encoded;

  Analysis analysis;
  analysis.result.path = name;
  {
    const py::gil_scoped_release release;
    analysis.source = open_recording(name, options.channel, analysis.result.error);
  }
  if (analysis.source == nullptr) {
    raise_read_error(read_error, encoded, analysis.result.error, py::list());
  }
  analysis.result.settings = settings_at(given, analysis.source->format().sample_rate);
  const Reopen reopen = [&](std::string& error) {
    return open_recording(name, options.channel, error);
  };
  analyse_released(analysis, reopen, options);
  judge(
      analysis.result, options,
      [&](const AnalysisOptions& run) {
        return guard_octaves_in_file(analysis.result, *options.tuning, name, run);
      },
      next);
  warn_of_doubts(analysis.result);
  // The tones up to where the reading stopped go with the error.
  if (!analysis.result.error.empty()) {
    raise_read_error(read_error, encoded, analysis.result.error,
                     tones_of(analysis.result, options.a4, options.tuning));
  }
  return std::move(analysis.result);
}

py::list analyse_file(const py::object& path, const py::handle& a4, const py::handle& channel,
                      const py::handle& robust, const py::handle& partials,
                      const TargetKeywords& target, const py::kwargs& keywords,
                      const py::object& read_error) {
  const GivenSettings given = given_settings(keywords);
  CallOptions options = call_options(a4, channel, robust, partials);
  set_target(options, target);
  std::size_t next = 0;
  const RecordingResult result = analyse_path(path, given, options, next, read_error);
  warn_of_notes_left(options, next, result.tones.size(), "the recording has");
  return tones_of(result, options.a4, options.tuning);
}

// A set of compare() as its tones: a list of Tone objects, a file of
// toneprint-batch's JSON results, a folder's recordings or one recording
// (analysed with `options`, a list of expected notes running on through a
// folder's recordings). `name` is set to what the set is called.
std::vector<ComparedTone> set_tones(const py::handle& set, std::size_t index,
                                    const GivenSettings& given, const CallOptions& options,
                                    const py::object& read_error, std::string& name) {
  const py::module_ os = py::module_::import("os");
  std::vector<ComparedTone> tones;
  if (!py::isinstance<py::str>(set) && !py::isinstance<py::bytes>(set) &&
      !py::isinstance(set, os.attr("PathLike"))) {
    if (!py::isinstance<py::iterable>(set)) {
      throw py::type_error("each set must be a list of Tone objects or a path, not " +
                           py::repr(set).cast<std::string>());
    }
    for (const py::handle tone : set) {
      if (std::optional<ComparedTone> compared = compared_of(tone)) {
        tones.push_back(std::move(*compared));
      }
    }
    name = "set " + std::to_string(index + 1);
    return tones;
  }
  const py::bytes encoded = os.attr("fsencode")(set);
  const std::string path = encoded;
  name = py::str(os.attr("fsdecode")(set)).cast<std::string>();
  if (is_results_file(path)) {
    std::string problem;
    {
      const py::gil_scoped_release release;
      problem = read_stored_file(path, tones);
    }
    if (!problem.empty()) raise_read_error(read_error, encoded, problem, py::list());
    return tones;
  }
  std::vector<std::string> problems;
  const std::vector<std::string> recordings = expand_folders({path}, false, problems);
  if (!problems.empty()) raise_read_error(read_error, encoded, problems.front(), py::list());
  std::size_t next = 0;
  std::size_t measured = 0;
  for (const std::string& recording : recordings) {
    const RecordingResult result =
        analyse_path(py::bytes(recording), given, options, next, read_error);
    Tuning equal;
    equal.a4 = options.a4;
    std::vector<ComparedTone> found =
        compared_tones(result, options.tuning.value_or(equal), options.partials);
    measured += result.tones.size();
    for (ComparedTone& tone : found) {
      // A folder's recordings are named as read from it.
      tone.file = py::str(os.attr("fsdecode")(py::bytes(recording))).cast<std::string>();
      tones.push_back(std::move(tone));
    }
  }
  warn_of_notes_left(options, next, measured, (name + "'s recordings have").c_str());
  return tones;
}

// The value of an optional number for a record: None when there is none.
py::object number_or_none(const std::optional<double>& value) {
  return value ? py::object(py::float_(*value)) : py::object(py::none());
}

py::list compare(const py::handle& sets, const py::handle& names, const py::handle& a4,
                 const py::handle& channel, const py::handle& robust, const py::handle& partials,
                 const TargetKeywords& target, const py::kwargs& keywords,
                 const py::object& read_error) {
  const GivenSettings given = given_settings(keywords);
  CallOptions options = call_options(a4, channel, robust, partials);
  set_target(options, target);
  if (py::isinstance<py::str>(sets) || py::isinstance<py::bytes>(sets) ||
      !py::isinstance<py::iterable>(sets)) {
    throw py::type_error("sets must be a list of sets, each a list of Tone objects or a path");
  }
  const py::list listed = py::module_::import("builtins").attr("list")(sets);
  if (listed.size() < 2) {
    throw py::value_error("compare needs at least two sets, not " +
                          std::to_string(listed.size()));
  }
  std::vector<std::string> given_names;
  if (!names.is_none()) {
    std::transform(py::iter(names), py::iterator::sentinel(), std::back_inserter(given_names),
                   [](const py::handle name) { return py::str(name).cast<std::string>(); });
    if (given_names.size() != listed.size()) {
      throw py::value_error("names has " + std::to_string(given_names.size()) +
                            " names for " + std::to_string(listed.size()) + " sets");
    }
  }
  std::vector<ComparisonSet> compared(listed.size());
  for (std::size_t i = 0; i < listed.size(); ++i) {
    compared[i].tones = set_tones(listed[i], i, given, options, read_error, compared[i].name);
    if (!given_names.empty()) compared[i].name = given_names[i];
  }
  Comparison comparison;
  {
    const py::gil_scoped_release release;
    comparison = compare_sets(compared);
  }
  py::list records;
  for (const ComparisonRow& row : comparison_rows(comparison)) {
    py::dict record;
    record["note"] = note_name(row.note);
    record["midi"] = row.note;
    record["matched"] = row.matched;
    record["set"] = compared[row.set].name;
    record["harmonic"] = row.harmonic;
    record["level_db"] = number_or_none(row.level_db);
    record["difference_db"] = number_or_none(row.difference_db);
    record["relative_to"] = row_reference_name(row);
    record["spread_db"] = number_or_none(row.spread_db);
    record["tones"] = row.tones;
    records.append(std::move(record));
  }
  return records;
}

}  // namespace
}  // namespace toneprint::python

PYBIND11_MODULE(_toneprint, module) {
  namespace py = pybind11;
  using namespace toneprint::python;
  module.doc() =
      "The pitch and the harmonics of recorded musical tones: the analysis of toneprint and "
      "toneprint-batch on numpy arrays and on files.";
  module.attr("__version__") = TONEPRINT_VERSION;

  // Raised from the functions below, never translated from C++.
  struct ReadFailure {};
  static const py::exception<ReadFailure> read_error(module, "ReadError", PyExc_OSError);
  read_error.attr("__doc__") =
      "A recording could not be opened, or could not be read to its end. Its tones attribute "
      "holds the tones found up to there (none when the file could not be opened).";

  bind_settings(module);
  bind_results(module);

  // The functions' signatures are written into their docstrings, with the
  // Python types they take.
  py::options options;
  options.disable_function_signatures();

  static const std::string analyse_doc = R"(analyse(samples: numpy.ndarray, sample_rate: int, *, a4: float = 440.0, channel: str | int = 'mix', robust: bool | Iterable[str] = False, partials: bool = False, expect: str | Iterable[str | int] | None = None, temperament: str | os.PathLike | None = None, temperament_root: str | None = None, stretch: float | None = None, **settings) -> list[Tone]

Measures the tones in an array of samples.

samples: a numpy array, 1-D (frames) or 2-D (frames x channels), of real
    integers or floats, or what numpy makes one of (a list of Python ints
    is int64). They are brought to the 16-bit scale as the programs bring a
    file's, each integer type's full scale to 32768: int8 times 256, int16
    as it is, int32 divided by 65536, int64 by 2**48; unsigned integers are
    first offset by their midpoint (uint8 minus 128, as 8-bit WAVE samples
    are, uint16 minus 32768, ...); floats (full scale 1.0) times 32768.
    float16 and long double arrays are converted once; complex, bool and
    object arrays raise TypeError.
sample_rate: samples per second.
a4: the frequency of A4 for note names and cents, Hz (100 to 1000).
channel: 'mix' for the channels' mean, or a channel number from 1.
robust: True for all the robust mode's changes for real instruments, or a
    collection of their names: follow_tail, short_attack, short_frames,
    check_vote, consensus, relative_threshold, split_legato. The default
    analysis otherwise, which gives the programs' numbers.
partials: True to measure each partial at its own frequency too, as
    toneprint-batch --partials does: each Tone's partials, inharmonicity
    and vibrato (None otherwise), and its frequency is partial 1's.
expect: the notes the tones are expected to sound, one per tone in
    order: a list of note names ('C#4', 'Bb2') and MIDI numbers (60), the
    same as one string separated by commas, or '@FILE' for a file of one
    note per line. Each Tone's expected_note is then its note, and in the
    robust and partials modes the octave guard checks a tone found an
    octave, a twelfth or two octaves from it. Notes left over, or tones
    past the list's end, are warned of.
temperament: the temperament of the targets: a built-in name ()" +
                                        temperament_names() + R"() or the path
    of a Scala .scl file. Default equal.
temperament_root: the note the temperament is laid on: 'C', 'F#', 'Bb'...
    Default 'C'.
stretch: cents per octave by which octaves above A4 are wider (and those
    below narrower), -50 to 50. Default 0.
    Any of expect, temperament, temperament_root and stretch judges each
    tone against its target (expected_note, expected_hz, expected_from,
    deviation_cents, octave_check); a4 is the target's A4 too.
**settings: the analysis settings, with the programs' names, defaults and
    bounds. An unknown name raises TypeError; a value out of bounds
    ValueError naming them.

)" + settings_help() + R"(
Returns a list of Tone objects. The interpreter is free for other threads
while the analysis runs.)";
  module.def(
      "analyse",
      [](const py::object& samples, const py::handle& sample_rate, const py::handle& a4,
         const py::handle& channel, const py::handle& robust, const py::handle& partials,
         const py::handle& expect, const py::handle& temperament, const py::handle& root,
         const py::handle& stretch, const py::kwargs& keywords) {
        return analyse(samples, sample_rate, a4, channel, robust, partials,
                       {expect, temperament, root, stretch}, keywords);
      },
      py::arg("samples"), py::arg("sample_rate"), py::kw_only(), py::arg("a4") = 440.0,
      py::arg("channel") = "mix", py::arg("robust") = false, py::arg("partials") = false,
      py::arg("expect") = py::none(), py::arg("temperament") = py::none(),
      py::arg("temperament_root") = py::none(), py::arg("stretch") = py::none(),
      analyse_doc.c_str());

  static const std::string analyse_file_doc = R"(analyse_file(path: str | os.PathLike, *, a4: float = 440.0, channel: str | int = 'mix', robust: bool | Iterable[str] = False, partials: bool = False, expect: str | Iterable[str | int] | None = None, temperament: str | os.PathLike | None = None, temperament_root: str | None = None, stretch: float | None = None, **settings) -> list[Tone]

Measures the tones in a recording file.

path: a WAVE file, or any format the build reads through libsndfile (FLAC,
    AIFF, Ogg Vorbis, Opus, MP3, ...): a str or os.PathLike.

a4, channel, robust, partials, the target's keywords and the settings are
those of analyse(); the settings' defaults are those for the file's sample
rate. expect may also be 'filename', for the note in the file's name
('Piano_C#4.wav', '060.wav'), or 'smpl', for the unity note of a WAVE
file's sampler chunk.

Returns a list of Tone objects. Raises ReadError when the file cannot be
opened, or cannot be read to its end (with the tones found up to there).)";
  module.def(
      "analyse_file",
      [](const py::object& path, const py::handle& a4, const py::handle& channel,
         const py::handle& robust, const py::handle& partials, const py::handle& expect,
         const py::handle& temperament, const py::handle& root, const py::handle& stretch,
         const py::kwargs& keywords) {
        return analyse_file(path, a4, channel, robust, partials,
                            {expect, temperament, root, stretch}, keywords, read_error);
      },
      py::arg("path"), py::kw_only(), py::arg("a4") = 440.0, py::arg("channel") = "mix",
      py::arg("robust") = false, py::arg("partials") = false, py::arg("expect") = py::none(),
      py::arg("temperament") = py::none(), py::arg("temperament_root") = py::none(),
      py::arg("stretch") = py::none(), analyse_file_doc.c_str());

  static const std::string compare_doc = R"(compare(sets: Iterable[Iterable[Tone] | str | os.PathLike], *, names: Iterable[str] | None = None, a4: float = 440.0, channel: str | int = 'mix', robust: bool | Iterable[str] = False, partials: bool = False, expect: str | Iterable[str | int] | None = None, temperament: str | os.PathLike | None = None, temperament_root: str | None = None, stretch: float | None = None, **settings) -> list[dict]

Compares sets of tones note by note, as toneprint-batch compare does: takes
before and after voicing, two instruments, a rank from bottom to top.

sets: two or more, the first the reference. A set is a list of Tone
    objects (from analyse() or analyse_file()), the path of a recording or
    of a folder of recordings (analysed with the keywords below, which are
    those of analyse_file()), or the path of a .json file of results that
    toneprint-batch wrote (read as it is).
names: what each set is called in the records; by default its path, or
    'set N' for a list of tones.

Tones are matched by the note expected of them where one was given, or
else by their nearest note; a note measured more than once in a set is
summarised by its mean and spread (standard deviation). Returns a list of
records, one per note, set and harmonic (k from 1), that pandas.DataFrame
takes as it is: note ('A4'), midi (69), matched (whether the reference set
and another set have the note), set, harmonic, level_db (for k = 1 the
fundamental's level in dB of full scale, for k >= 2 the level in dB
relative to the fundamental), relative_to ('full scale' or 'fundamental'),
spread_db, difference_db (the set's level minus the reference set's; None
for a note not matched or a harmonic either lacks) and tones (how many of
the set's tones the note has). Raises ReadError when a set's file cannot
be read.)";
  module.def(
      "compare",
      [](const py::handle& sets, const py::handle& names, const py::handle& a4,
         const py::handle& channel, const py::handle& robust, const py::handle& partials,
         const py::handle& expect, const py::handle& temperament, const py::handle& root,
         const py::handle& stretch, const py::kwargs& keywords) {
        return compare(sets, names, a4, channel, robust, partials,
                       {expect, temperament, root, stretch}, keywords, read_error);
      },
      py::arg("sets"), py::kw_only(), py::arg("names") = py::none(), py::arg("a4") = 440.0,
      py::arg("channel") = "mix", py::arg("robust") = false, py::arg("partials") = false,
      py::arg("expect") = py::none(), py::arg("temperament") = py::none(),
      py::arg("temperament_root") = py::none(), py::arg("stretch") = py::none(),
      compare_doc.c_str());
}
