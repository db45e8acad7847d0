#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "toneprint/toneprint.h"
#include "python/bindings.h"

namespace toneprint::python {
namespace {

std::string number_text(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// A name of the tables as a keyword: "follow_tail" for "follow-tail".
std::string keyword_of(const char* name) {
  std::string keyword = name;
  std::replace(keyword.begin(), keyword.end(), '-', '_');
  return keyword;
}

// "2048, 4096, 8192 or 16384".
std::string fft_size_list() {
  std::string list;
  for (std::size_t i = 0; i < fft_sizes.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == fft_sizes.size() ? " or " : ", ") + std::to_string(fft_sizes[i]);
  }
  return list;
}

// "follow_tail, short_attack, check_vote, consensus, relative_threshold and
// split_legato".
std::string change_names() {
  std::string list;
  for (std::size_t i = 0; i < robust_changes.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == robust_changes.size() ? " and " : ", ") +
            keyword_of(robust_changes[i].name);
  }
  return list;
}

std::string shown(const py::handle& value) { return py::repr(value).cast<std::string>(); }

const std::vector<std::string>& keyword_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    std::transform(setting_names.begin(), setting_names.end(), std::back_inserter(list),
                   [](const SettingName& setting) { return keyword_of(setting.name); });
    return list;
  }();
  return names;
}

std::string all_keywords() {
  std::string list;
  for (const std::string& name : keyword_names()) {
    if (!list.empty()) list += ", ";
    list += name;
  }
  return list;
}

// A Python number as a double: a whole one for a whole setting (bool is not
// taken for one), any real one otherwise.
double number_from(const py::handle& value, const std::string& name, bool whole) {
  if (PyBool_Check(value.ptr())) {
    throw py::type_error(name + " must be a number, not a bool");
  }
  if (whole) {
    if (PyIndex_Check(value.ptr()) == 0) {
      throw py::type_error(name + " must be a whole number, not " + shown(value));
    }
    PyObject* const whole_number = PyNumber_Index(value.ptr());
    if (whole_number == nullptr) throw py::error_already_set();  // __index__ raised
    const py::int_ index = py::reinterpret_steal<py::int_>(whole_number);
    // Beyond a long long it is out of every bound anyway; so is infinity.
    int overflow = 0;
    const long long whole_value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0) return std::numeric_limits<double>::infinity();
    return static_cast<double>(whole_value);
  }
  if (PyFloat_Check(value.ptr()) == 0 && PyIndex_Check(value.ptr()) == 0 &&
      PyObject_HasAttrString(value.ptr(), "__float__") == 0) {
    throw py::type_error(name + " must be a number, not " + shown(value));
  }
  const double number = PyFloat_AsDouble(value.ptr());
  if (number == -1.0 && PyErr_Occurred() != nullptr) throw py::error_already_set();
  return number;
}

std::string out_of_bounds(const std::string& name, const py::handle& value, double minimum,
                          double maximum) {
  return name + ": " + shown(value) + " is outside its bounds, " + number_text(minimum) + " to " +
         number_text(maximum);
}

}  // namespace

const std::string& keyword_name(std::size_t index) { return keyword_names().at(index); }

GivenSettings given_settings(const py::kwargs& keywords) {
  GivenSettings given;
  for (const auto& [key, value] : keywords) {
    const std::string name = py::str(key);
    const std::vector<std::string>& names = keyword_names();
    std::size_t index = 0;
    while (index < names.size() && names[index] != name) ++index;
    if (index == names.size()) {
      throw py::type_error("unknown setting '" + name + "'; the settings are " + all_keywords() +
                           ", a4, channel, robust, partials, expect, temperament, temperament_root "
                           "and stretch");
    }
    const SettingBounds& bounds = setting_bounds[index];
    if (value.is_none()) continue;  // the default
    const double number = number_from(value, name, bounds.kind == SettingKind::whole);
    if (bounds.setting == Setting::fft_size) {
      if (!is_fft_size(number)) {
        throw py::value_error(name + ": " + shown(value) + " is not " + fft_size_list());
      }
    } else if (!(number >= bounds.minimum && number <= bounds.maximum)) {
      // Written so that NaN fails too.
      throw py::value_error(out_of_bounds(name, value, bounds.minimum, bounds.maximum));
    }
    given[index] = number;
  }
  return given;
}

AnalysisSettings settings_at(const GivenSettings& given, std::uint32_t sample_rate) {
  AnalysisSettings settings;
  if (!settings_with(given, sample_rate, settings)) {
    std::size_t hop = 0;
    while (setting_bounds[hop].setting != Setting::fft_hop) ++hop;
    const bool size_given = given[hop - 1].has_value();
    throw py::value_error("hop: " + number_text(*given[hop]) + " is longer than the FFT size " +
                          std::to_string(settings.fft_size) +
                          (size_given ? std::string()
                                      : " used at " + std::to_string(sample_rate) +
                                            " Hz; give fft_size too"));
  }
  return settings;
}

std::uint32_t sample_rate_from(const py::handle& value) {
  const double rate = number_from(value, "sample_rate", PyFloat_Check(value.ptr()) == 0);
  if (!(rate >= 1.0 && rate <= std::numeric_limits<std::uint32_t>::max()) ||
      rate != std::floor(rate)) {
    throw py::value_error("sample_rate: " + shown(value) +
                          " is not a whole number of samples per second from 1 to 4294967295");
  }
  return static_cast<std::uint32_t>(rate);
}

double a4_from(const py::handle& a4) {
  const double value = number_from(a4, "a4", false);
  if (!(value >= min_a4 && value <= max_a4)) {
    throw py::value_error(out_of_bounds("a4", a4, min_a4, max_a4));
  }
  return value;
}

Tuning tuning_from(double a4, const TargetKeywords& target) {
  Tuning tuning;
  tuning.a4 = a4;
  if (!target.temperament.is_none()) {
    if (!py::isinstance<py::str>(target.temperament) &&
        !py::hasattr(target.temperament, "__fspath__")) {
      throw py::type_error("temperament must be the name of a built-in temperament or the path "
                           "of a .scl file, not " + shown(target.temperament));
    }
    // A path in the file system's own encoding, as analyse_file takes one.
    const std::string name =
        py::bytes(py::module_::import("os").attr("fsencode")(target.temperament));
    TemperamentRead read = read_temperament(name);
    if (!read.temperament) throw py::value_error("temperament: " + read.error);
    tuning.temperament = std::move(*read.temperament);
  }
  if (!target.root.is_none()) {
    const std::optional<int> pitch_class =
        py::isinstance<py::str>(target.root) ? parse_pitch_class(target.root.cast<std::string>())
                                             : std::nullopt;
    if (!pitch_class) {
      throw py::value_error("temperament_root: " + shown(target.root) +
                            " is not a note name such as 'C', 'F#' or 'Bb'");
    }
    tuning.root = *pitch_class;
  }
  if (!target.stretch.is_none()) {
    tuning.stretch_cents = number_from(target.stretch, "stretch", false);
    if (!(std::fabs(tuning.stretch_cents) <= max_stretch_cents)) {
      throw py::value_error(
          out_of_bounds("stretch", target.stretch, -max_stretch_cents, max_stretch_cents));
    }
  }
  return tuning;
}

namespace {

// The notes of a list: note names ("C#4") or MIDI numbers, as --expect
// takes them, each entry named by its place when it is neither.
Expectation expected_list(const py::handle& notes) {
  Expectation expectation;
  expectation.kind = ExpectationKind::list;
  std::size_t entry = 0;
  for (const py::handle note : notes) {
    ++entry;
    std::optional<int> midi;
    if (py::isinstance<py::str>(note)) {
      midi = parse_note(note.cast<std::string>());
    } else if (!PyBool_Check(note.ptr()) && PyIndex_Check(note.ptr()) != 0) {
      const double number = number_from(note, "expect", true);
      if (number >= 0.0 && number <= 127.0) midi = static_cast<int>(number);
    }
    if (!midi) {
      throw py::value_error("expect: entry " + std::to_string(entry) + ": " + shown(note) +
                            " is not a note name or a MIDI number from 0 to 127");
    }
    if (expectation.notes.size() == max_expected_notes) {
      throw py::value_error("expect: more than " + std::to_string(max_expected_notes) + " notes");
    }
    expectation.notes.push_back({*midi, 0.0});
  }
  if (expectation.notes.empty()) throw py::value_error("expect: no notes given");
  return expectation;
}

}  // namespace

void set_target(CallOptions& options, const TargetKeywords& target) {
  if (target.expect.is_none() && target.temperament.is_none() && target.root.is_none() &&
      target.stretch.is_none()) {
    return;
  }
  options.tuning = tuning_from(options.a4, target);
  if (target.expect.is_none()) return;
  if (py::isinstance<py::str>(target.expect)) {
    ExpectationParse parsed = parse_expectation(target.expect.cast<std::string>());
    if (!parsed.error.empty()) throw py::value_error("expect: " + parsed.error);
    options.expectation = std::move(parsed.expectation);
  } else if (py::isinstance<py::iterable>(target.expect)) {
    options.expectation = expected_list(target.expect);
  } else {
    throw py::type_error("expect must be a list of notes, a string of them separated by commas, "
                         "'filename', 'smpl' or '@FILE', not " + shown(target.expect));
  }
}

CallOptions call_options(const py::handle& a4, const py::handle& channel,
                         const py::handle& robust, const py::handle& partials) {
  CallOptions options;
  if (!PyBool_Check(partials.ptr())) throw py::type_error("partials must be True or False");
  options.partials = partials.cast<bool>();
  options.a4 = a4_from(a4);

  if (py::isinstance<py::str>(channel)) {
    if (channel.cast<std::string>() != "mix") {
      throw py::value_error("channel: " + shown(channel) + " is neither mix nor a channel number");
    }
  } else {
    const double number = number_from(channel, "channel", true);
    if (!(number >= 1.0 && number <= max_channels)) {
      throw py::value_error("channel: " + shown(channel) +
                            " is neither mix nor a channel number from 1 to " +
                            std::to_string(max_channels));
    }
    options.channel.channel = static_cast<std::uint32_t>(number);
  }

  RobustSettings& changes = options.robust;
  if (PyBool_Check(robust.ptr())) {
    if (robust.cast<bool>()) changes = all_robust_changes();
    return options;
  }
  if (py::isinstance<py::str>(robust) || !py::isinstance<py::iterable>(robust)) {
    throw py::type_error("robust must be True, False or a collection of the names " +
                         change_names());
  }
  for (const py::handle change : robust) {
    const std::string name = py::isinstance<py::str>(change) ? change.cast<std::string>() : "";
    const auto found = std::find_if(robust_changes.begin(), robust_changes.end(),
                                    [&name](const RobustChange& c) { return keyword_of(c.name) == name; });
    if (found == robust_changes.end()) {
      throw py::value_error("robust: " + shown(change) + " is none of " + change_names());
    }
    changes.*found->flag = true;
  }
  return options;
}

std::string settings_help() {
  const AnalysisSettings defaults;
  std::string text;
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    const SettingBounds& bounds = setting_bounds[i];
    text += "    " + keyword_name(i);
    if (bounds.setting == Setting::fft_size) {
      text += " (" + fft_size_list() + "; default by the sample rate)\n";
    } else {
      text += " (default " + number_text(setting_value(defaults, bounds.setting)) + ", " +
              number_text(bounds.minimum) + " to " + number_text(bounds.maximum) + ")\n";
    }
    text += std::string("        ") + setting_names[i].description + "\n";
  }
  return text;
}

void bind_settings(py::module_& module) {
  static const std::string doc = R"(The analysis settings for a recording of one sample rate.

Settings(sample_rate, **settings) holds the defaults for that rate with the
given settings over them, each checked as analyse() checks it: TypeError
for an unknown name or a value of the wrong type, ValueError, naming the
bounds, for a value out of them. as_dict() gives the keywords that
analyse() and analyse_file() take.

Settings, their defaults and bounds:
)" + settings_help();
  py::class_<AnalysisSettings> settings(module, "Settings", doc.c_str());
  {
    py::options options;
    options.disable_function_signatures();
    settings.def(py::init([](const py::handle& sample_rate, const py::kwargs& keywords) {
                   return settings_at(given_settings(keywords), sample_rate_from(sample_rate));
                 }),
                 py::arg("sample_rate"),
                 "__init__(self, sample_rate: int, **settings) -> None\n\nThe defaults for this "
                 "sample rate with the given settings over them.");
  }
  settings.def_property_readonly(
      "sample_rate", [](const AnalysisSettings& s) { return s.sample_rate; },
      "Samples per second that the defaults were chosen for.");
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    const Setting setting = setting_bounds[i].setting;
    const bool whole = setting_bounds[i].kind == SettingKind::whole;
    settings.def_property_readonly(
        keyword_name(i).c_str(),
        [setting, whole](const AnalysisSettings& s) -> py::object {
          const double value = setting_value(s, setting);
          if (whole) return py::int_(static_cast<long long>(value));
          return py::float_(value);
        },
        setting_names[i].description);
  }
  settings.def("as_dict", [](const py::object& self) {
    py::dict keywords;
    for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
      keywords[py::str(keyword_name(i))] = self.attr(keyword_name(i).c_str());
    }
    return keywords;
  }, "The settings as keywords for analyse() and analyse_file().");
  settings.def("__eq__", [](const py::object& self, const py::object& other) -> py::object {
    if (!py::isinstance<AnalysisSettings>(other)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
    return py::bool_(self.attr("sample_rate").equal(other.attr("sample_rate")) &&
                     self.attr("as_dict")().equal(other.attr("as_dict")()));
  });
  settings.attr("__hash__") = py::none();
  settings.def("__repr__", [](const py::object& self) {
    std::string text = "Settings(" + shown(self.attr("sample_rate"));
    for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
      text += ", " + keyword_name(i) + "=" + shown(self.attr(keyword_name(i).c_str()));
    }
    return text + ")";
  });
}

}  // namespace toneprint::python
