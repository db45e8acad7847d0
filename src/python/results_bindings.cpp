#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "toneprint/toneprint.h"
#include "python/bindings.h"

namespace toneprint::python {
namespace {

constexpr double not_measured = std::numeric_limits<double>::quiet_NaN();

// One pass's measurement, as Python sees it.
struct Pass {
  double time = 0.0;         // seconds from the recording's start
  std::uint64_t sample = 0;  // the pitch block's first sample
  double fundamental = 0.0;  // Hz
  std::vector<double> amplitudes;  // NaN above the Nyquist limit
  bool used = true;
};

struct FailedPassResult {
  double time = 0.0;
  std::uint64_t sample = 0;
  std::string failure;  // "no peaks", "detection error", "vote rejected"
  std::string message;
};

struct Tone {
  double start = 0.0;
  double end = 0.0;
  std::uint64_t start_sample = 0;
  std::uint64_t end_sample = 0;
  std::optional<double> frequency;
  std::optional<std::string> note;
  std::optional<double> cents;
  std::optional<double> spread_cents;
  std::optional<double> max_fundamental;
  std::vector<double> harmonics;
  std::vector<Pass> passes;
  std::vector<FailedPassResult> failed;
};

py::array_t<double> array_of(const std::vector<double>& values) {
  py::array_t<double> array(static_cast<py::ssize_t>(values.size()));
  std::copy(values.begin(), values.end(), array.mutable_data());
  return array;
}

std::string short_text(double value) {
  std::ostringstream text;
  text.precision(6);
  text << value;
  return text.str();
}

Tone tone_of(const RecordingResult& result, const ToneRecord& record, double a4) {
  Tone tone;
  tone.start = result.seconds(record.start);
  tone.end = result.seconds(record.end);
  tone.start_sample = record.start;
  tone.end_sample = record.end;
  tone.harmonics.assign(record.totals.amplitude_sums.size(), not_measured);
  if (record.measured()) {
    const NearestNote note = nearest_note(record.frequency(), a4);
    tone.frequency = record.frequency();
    tone.note = note.name;
    tone.cents = note.cents;
    tone.spread_cents = record.spread_cents();
    tone.max_fundamental = record.totals.max_fundamental_amplitude;
    for (std::size_t k = 0; k < tone.harmonics.size(); ++k) {
      tone.harmonics[k] = record.harmonic(k).value_or(not_measured);
    }
  }
  for (const MeasuredPass& measured : record.passes) {
    Pass pass;
    pass.time = result.seconds(measured.first);
    pass.sample = measured.first;
    pass.fundamental = measured.fundamental;
    for (const double amplitude : measured.amplitudes) {
      pass.amplitudes.push_back(amplitude < 0.0 ? not_measured : amplitude);
    }
    pass.used = measured.used;
    tone.passes.push_back(std::move(pass));
  }
  for (const FailedPass& failed : record.failures) {
    tone.failed.push_back(
        {result.seconds(failed.first), failed.first, failure_name(failed.failure), failure_message(failed.failure)});
  }
  return tone;
}

}  // namespace

py::list tones_of(const RecordingResult& result, double a4) {
  py::list tones;
  for (const ToneRecord& record : result.tones) tones.append(py::cast(tone_of(result, record, a4)));
  return tones;
}

void bind_results(py::module_& module) {
  py::class_<Pass>(module, "Pass",
                   "One measurement of a tone: a pitch block and the frame of whole cycles after "
                   "it.")
      .def_readonly("time", &Pass::time, "Where the pitch block starts, seconds.")
      .def_readonly("sample", &Pass::sample, "Where the pitch block starts, as a sample number.")
      .def_readonly("fundamental", &Pass::fundamental, "The pass's fundamental, Hz.")
      .def_property_readonly(
          "amplitudes", [](const Pass& pass) { return array_of(pass.amplitudes); },
          "Amplitude of the fundamental (index 0) and of each harmonic, in 16-bit sample units; "
          "NaN above half the sample rate.")
      .def_readonly("used", &Pass::used,
                    "Whether the tone's means include the pass (robust consensus may leave it "
                    "out).")
      .def("__repr__", [](const Pass& pass) {
        return "Pass(time=" + short_text(pass.time) + ", fundamental=" +
               short_text(pass.fundamental) + ")";
      });

  py::class_<FailedPassResult>(module, "FailedPass",
                               "A pass that gave no fundamental, and why.")
      .def_readonly("time", &FailedPassResult::time, "Where the pitch block starts, seconds.")
      .def_readonly("sample", &FailedPassResult::sample,
                    "Where the pitch block starts, as a sample number.")
      .def_readonly("failure", &FailedPassResult::failure,
                    "'no peaks', 'detection error' or 'vote rejected'.")
      .def_readonly("message", &FailedPassResult::message, "The analysis's message.")
      .def("__repr__", [](const FailedPassResult& failed) {
        return "FailedPass(time=" + short_text(failed.time) + ", message=" +
               py::repr(py::str(failed.message)).cast<std::string>() + ")";
      });

  py::class_<Tone>(module, "Tone",
                   "A tone: a stretch of sound between silences, with its means over the passes "
                   "used. A tone too short for one pass has no frequency, note or harmonics "
                   "(None, and NaN).")
      .def_readonly("start", &Tone::start, "The first loud sample, seconds.")
      .def_readonly("end", &Tone::end,
                    "Where the closing silence begins, or the recording ends, seconds.")
      .def_readonly("start_sample", &Tone::start_sample, "start as a sample number.")
      .def_readonly("end_sample", &Tone::end_sample, "end as a sample number.")
      .def_readonly("frequency", &Tone::frequency,
                    "The mean fundamental over the passes used, Hz; None when not measured.")
      .def_readonly("note", &Tone::note, "The nearest equal-tempered note, e.g. 'A4' or 'C#5'.")
      .def_readonly("cents", &Tone::cents, "The frequency's deviation from the note, cents.")
      .def_readonly("spread_cents", &Tone::spread_cents,
                    "Standard deviation of the passes' fundamentals, in cents of their mean.")
      .def_readonly("max_fundamental", &Tone::max_fundamental,
                    "The largest amplitude of the fundamental over the passes.")
      .def_property_readonly(
          "harmonics", [](const Tone& tone) { return array_of(tone.harmonics); },
          "Mean amplitude of the fundamental (index 0) and of each harmonic, in 16-bit sample "
          "units; NaN above half the sample rate or when not measured.")
      .def_readonly("passes", &Tone::passes, "Each pass that gave a fundamental.")
      .def_readonly("failed", &Tone::failed, "Each pass that gave none, with its message.")
      .def_property_readonly(
          "measured", [](const Tone& tone) { return tone.frequency.has_value(); },
          "Whether a pass measured the tone.")
      .def("__repr__", [](const Tone& tone) {
        std::string text = "Tone(start=" + short_text(tone.start) + ", end=" + short_text(tone.end);
        if (tone.frequency) {
          text += ", frequency=" + short_text(*tone.frequency) + ", note='" + *tone.note +
                  "', cents=" + short_text(*tone.cents);
        }
        return text + ")";
      });
}

}  // namespace toneprint::python
