#pragma once

// The Python module's pieces: the settings as keywords and as a class, and
// the results as Tone, Pass and FailedPass objects.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
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
  // The target the tones are judged against, when one was asked for, and
  // the notes they are expected to sound.
  std::optional<Tuning> tuning;
  Expectation expectation;
};

// The keywords that ask for a target: expect, temperament,
// temperament_root and stretch (each None when not given).
struct TargetKeywords {
  py::handle expect;
  py::handle temperament;
  py::handle root;
  py::handle stretch;
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

// Sets options.tuning (at options.a4) and options.expectation when a
// target keyword is given; ValueError naming the bad entry or the bound,
// TypeError for a value of the wrong type.
void set_target(CallOptions& options, const TargetKeywords& target);

// The tuning that temperament, temperament_root and stretch give at `a4`
// (equal temperament on C, unstretched, for those that are None).
Tuning tuning_from(double a4, const TargetKeywords& target);

// A4 as the a4 keyword gives it, Hz within min_a4 to max_a4; ValueError or
// TypeError.
double a4_from(const py::handle& a4);

// The list of Tone objects of an analysed recording, each judged against
// `tuning` when there is one.
py::list tones_of(const RecordingResult& result, double a4, const std::optional<Tuning>& tuning);

// A Tone object as compare() takes it: none for a tone not measured;
// TypeError for anything but a Tone.
std::optional<ComparedTone> compared_of(const py::handle& tone);

// The names of the keywords, "harmonics" ... "peaks", in table order.
const std::string& keyword_name(std::size_t index);

// The settings' lines for a docstring: name, default, bounds, meaning.
std::string settings_help();

void bind_settings(py::module_& module);
void bind_results(py::module_& module);

}  // namespace toneprint::python
