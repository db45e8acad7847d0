#pragma once

// The Python module's pieces: the settings as keywords and as a class, and
// the results as Tone, Pass and FailedPass objects.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "toneprint/toneprint.h"

namespace toneprint::python {

namespace py = pybind11;

// What a call asks for beside the settings.
struct CallOptions {
  double a4 = 440.0;
  ChannelChoice channel;
  RobustSettings robust;
  bool partials = false;
};

// The settings given as keywords, each checked against its bounds.
// TypeError for an unknown name or a value of the wrong type, ValueError
// (naming the setting and its bounds) for a value out of them.
GivenSettings given_settings(const py::kwargs& keywords);

// The defaults for this rate with the given values over them; ValueError
// when a given hop is longer than the FFT size in effect.
AnalysisSettings settings_at(const GivenSettings& given, std::uint32_t sample_rate);

// A positive whole number of samples per second; TypeError or ValueError.
std::uint32_t sample_rate_from(const py::handle& value);

// a4, channel, robust and partials as the keywords give them; ValueError
// or TypeError.
CallOptions call_options(const py::handle& a4, const py::handle& channel,
                         const py::handle& robust, const py::handle& partials);

// The list of Tone objects of an analysed recording.
py::list tones_of(const RecordingResult& result, double a4);

// The names of the keywords, "harmonics" ... "peaks", in table order.
const std::string& keyword_name(std::size_t index);

// The settings' lines for a docstring: name, default, bounds, meaning.
std::string settings_help();

void bind_settings(py::module_& module);
void bind_results(py::module_& module);

}  // namespace toneprint::python
