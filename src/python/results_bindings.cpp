#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
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

// The partials analysis's records as Python sees them: what toneprint-batch
// writes as null is None.
struct Partial {
  int number = 0;
  std::optional<double> frequency_hz;
  std::optional<double> cents_from_harmonic;
  std::optional<double> amplitude;
  std::optional<double> level_db;
  bool below_noise = false;
};

struct InharmonicityResult {
  double b = 0.0;
  std::optional<double> b_uncertainty;
  std::string b_uncertainty_from;  // "passes" or "fit"
};

// What the octave guard found, with toneprint-batch's JSON names.
struct OctaveCheckResult {
  double found_hz = 0.0;
  double expected_hz = 0.0;
  std::string taken;     // "expected" or "found"
  std::string evidence;  // octave_evidence_name
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
  std::optional<std::vector<Partial>> partials;
  std::optional<InharmonicityResult> inharmonicity;
  std::optional<Vibrato> vibrato;
  std::optional<std::size_t> split_from;
  std::optional<TimbreDescriptors> descriptors;
  // The target, when one was asked for.
  std::optional<std::string> expected_note;
  std::optional<double> expected_hz;
  std::optional<std::string> expected_from;  // "expectation" or "nearest"
  std::optional<double> deviation_cents;
  std::optional<OctaveCheckResult> octave_check;
  // The note expected of the tone, as the analysis had it, for
  // best_reference.
  std::optional<MidiNote> expected;
  // The tone as compare() takes it, when it was measured.
  std::optional<ComparedTone> compared;
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

std::string short_text(const std::optional<double>& value) {
  return value ? short_text(*value) : "None";
}

// A number that is not finite is none, as in toneprint-batch's JSON.
std::optional<double> finite(const std::optional<double>& value) {
  return value && std::isfinite(*value) ? value : std::nullopt;
}

// The partials analysis's summary, as toneprint-batch writes it for a
// measured tone.
void add_partials(Tone& tone, const TonePartials& summary) {
  std::vector<Partial>& partials = tone.partials.emplace();
  std::transform(summary.partials.begin(), summary.partials.end(), std::back_inserter(partials),
                 [](const TonePartial& p) {
                   return Partial{p.number, finite(p.frequency), finite(p.cents_from_harmonic),
                                  finite(p.amplitude), finite(p.level_db), p.below_noise};
                 });
  if (summary.inharmonicity) {
    const Inharmonicity& b = *summary.inharmonicity;
    tone.inharmonicity = {b.b, finite(b.uncertainty), b.from_passes ? "passes" : "fit"};
  }
  tone.vibrato = summary.vibrato;
}

// The target the tone is judged against, as toneprint-batch's JSON gives it.
void add_target(Tone& tone, const ToneRecord& record, const Tuning& tuning) {
  tone.expected = record.expected;
  if (const std::optional<ToneTarget> target = tone_target(record, tuning)) {
    tone.expected_note = note_name(target->note.midi);
    tone.expected_hz = target->hz;
    tone.expected_from = target->expected ? "expectation" : "nearest";
    tone.deviation_cents = target->deviation_cents;
  }
  if (record.octave_check) {
    const OctaveCheck& check = *record.octave_check;
    tone.octave_check = OctaveCheckResult{check.measured, check.expected,
                                          check.taken ? "expected" : "found",
                                          octave_evidence_name(check.evidence)};
  }
}

Tone tone_of(const RecordingResult& result, const ToneRecord& record, double a4,
             const std::optional<Tuning>& tuning) {
  Tone tone;
  tone.start = result.seconds(record.start);
  tone.end = result.seconds(record.end);
  tone.start_sample = record.start;
  tone.end_sample = record.end;
  tone.split_from = record.split_from;
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
    if (record.partials) add_partials(tone, *record.partials);
    // The partials are there only where they were asked for.
    tone.descriptors = tone_timbre(record, result.format.sample_rate, record.partials.has_value());
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
  if (tuning) add_target(tone, record, *tuning);
  return tone;
}

// The A4 that fits the tones best, each judged as toneprint-batch judges
// a recording's: a record holding just the tone's frequency and expected
// note goes through the same add_judged_tones.
std::optional<BestReference> best_reference_of(const py::handle& tones, const Tuning& tuning) {
  if (py::isinstance<Tone>(tones) || !py::isinstance<py::iterable>(tones)) {
    throw py::type_error("tones must be a list of Tone objects");
  }
  RecordingResult judged;
  for (const py::handle item : tones) {
    if (!py::isinstance<Tone>(item)) {
      throw py::type_error("tones must be a list of Tone objects, not one holding " +
                           py::repr(item).cast<std::string>());
    }
    const Tone& tone = item.cast<const Tone&>();
    ToneRecord record;
    record.expected = tone.expected;
    if (tone.frequency) {
      record.totals.pass_count = 1;
      record.totals.frequency_sum = *tone.frequency;
    }
    judged.tones.push_back(std::move(record));
  }
  std::vector<JudgedTone> fitted;
  add_judged_tones(judged, tuning, fitted);
  return best_reference(tuning, fitted);
}

}  // namespace

py::list tones_of(const RecordingResult& result, double a4, const std::optional<Tuning>& tuning) {
  // Matched by their expected or nearest note in the tuning asked for, or
  // else equal temperament at a4; the partials' amplitudes where they were
  // measured.
  Tuning equal;
  equal.a4 = a4;
  std::vector<ComparedTone> compared = compared_tones(result, tuning.value_or(equal), true);
  auto next = compared.begin();
  py::list tones;
  for (std::size_t i = 0; i < result.tones.size(); ++i) {
    Tone tone = tone_of(result, result.tones[i], a4, tuning);
    if (next != compared.end() && next->tone == i + 1) tone.compared = std::move(*next++);
    tones.append(py::cast(std::move(tone)));
  }
  return tones;
}

std::optional<ComparedTone> compared_of(const py::handle& tone) {
  if (!py::isinstance<Tone>(tone)) {
    throw py::type_error("a set of tones must hold Tone objects, not " +
                         py::repr(tone).cast<std::string>());
  }
  return tone.cast<const Tone&>().compared;
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

  py::class_<Partial>(module, "Partial",
                      "One partial of a tone, measured at its own frequency: 1 is the "
                      "fundamental, 2 the octave above it, 3 the twelfth, ...")
      .def_readonly("number", &Partial::number, "Which partial: 1 is the fundamental.")
      .def_readonly("frequency_hz", &Partial::frequency_hz,
                    "Where the partial sounds, Hz; None when it is below the noise.")
      .def_readonly("cents_from_harmonic", &Partial::cents_from_harmonic,
                    "How far it lies from number times partial 1's frequency, cents: a stiff "
                    "string's partials run sharp.")
      .def_readonly("amplitude", &Partial::amplitude,
                    "Its amplitude in 16-bit sample units, on the scale of Tone.harmonics.")
      .def_readonly("level_db", &Partial::level_db,
                    "How loud it is relative to the fundamental, dB (partial 1 is 0 dB).")
      .def_readonly("below_noise", &Partial::below_noise,
                    "Whether it is too weak to tell from the noise around it.")
      .def("__repr__", [](const Partial& p) {
        std::string text = "Partial(number=" + std::to_string(p.number);
        if (p.below_noise) return text + ", below_noise=True)";
        return text + ", frequency_hz=" + short_text(p.frequency_hz) +
               ", cents_from_harmonic=" + short_text(p.cents_from_harmonic) +
               ", level_db=" + short_text(p.level_db) + ")";
      });

  py::class_<InharmonicityResult>(module, "Inharmonicity",
                                  "How far a stiff string (a piano's, a guitar's) stretches its "
                                  "partials: partial n lies at n F sqrt(1 + B n²).")
      .def_readonly("b", &InharmonicityResult::b,
                    "The inharmonicity coefficient B: 0 for exact harmonics, the larger the "
                    "stiffer the string.")
      .def_readonly("b_uncertainty", &InharmonicityResult::b_uncertainty,
                    "The standard error of B; None when it cannot be told.")
      .def_readonly("b_uncertainty_from", &InharmonicityResult::b_uncertainty_from,
                    "'passes' when the uncertainty is the spread of several passes' B, 'fit' "
                    "when it is one pass's fit.")
      .def("__repr__", [](const InharmonicityResult& b) {
        return "Inharmonicity(b=" + short_text(b.b) + ", b_uncertainty=" +
               short_text(b.b_uncertainty) + ", b_uncertainty_from='" + b.b_uncertainty_from +
               "')";
      });

  py::class_<Vibrato>(module, "Vibrato", "The regular swing of a tone's pitch.")
      .def_readonly("rate_hz", &Vibrato::rate_hz, "How many times a second the pitch swings.")
      .def_readonly("extent_cents", &Vibrato::extent_cents,
                    "How far the pitch swings to either side of its centre, cents.")
      .def("__repr__", [](const Vibrato& v) {
        return "Vibrato(rate_hz=" + short_text(v.rate_hz) +
               ", extent_cents=" + short_text(v.extent_cents) + ")";
      });

  py::class_<OctaveCheckResult>(module, "OctaveCheck",
                                "The octave guard's check of a tone found an octave, a twelfth or "
                                "two octaves from its expected note.")
      .def_readonly("found_hz", &OctaveCheckResult::found_hz,
                    "The frequency the analysis found first, Hz.")
      .def_readonly("expected_hz", &OctaveCheckResult::expected_hz,
                    "The expected note's target, Hz.")
      .def_readonly("taken", &OctaveCheckResult::taken,
                    "'expected' when the tone was measured again at the expected pitch, 'found' "
                    "when it stands as found.")
      .def_readonly("evidence", &OctaveCheckResult::evidence,
                    "What decided it: 'spectrum', 'period', 'spectrum and period', 'none' or "
                    "'unresolved'.")
      .def("__repr__", [](const OctaveCheckResult& check) {
        return "OctaveCheck(found_hz=" + short_text(check.found_hz) + ", expected_hz=" +
               short_text(check.expected_hz) + ", taken='" + check.taken + "', evidence='" +
               check.evidence + "')";
      });

  py::class_<BestReference>(module, "BestReference",
                            "The A4 at which a set of tones fits its tuning best.")
      .def_readonly("a4_hz", &BestReference::a4_hz,
                    "The median of the A4s at which each tone would sound its target exactly, "
                    "Hz.")
      .def_readonly("interval_hz", &BestReference::interval_hz,
                    "The half-width of the median's 95 % interval, Hz (0 for one tone).")
      .def_readonly("tones", &BestReference::tones, "How many measured tones it was fitted to.")
      .def("__repr__", [](const BestReference& best) {
        return "BestReference(a4_hz=" + short_text(best.a4_hz) + ", interval_hz=" +
               short_text(best.interval_hz) + ", tones=" + std::to_string(best.tones) + ")";
      });

  py::class_<TimbreDescriptors>(
      module, "Descriptors",
      "A tone's timbre descriptors, from its mean harmonic amplitudes A_k (its partials' with "
      "partials=True), harmonics above half the sample rate or not measured left out.")
      .def_readonly("harmonics_used", &TimbreDescriptors::harmonics_used,
                    "How many harmonics the descriptors were computed from.")
      .def_readonly("centroid_hz", &TimbreDescriptors::centroid_hz,
                    "The spectral centroid, centroid_harmonic times the fundamental, Hz.")
      .def_readonly("centroid_harmonic", &TimbreDescriptors::centroid_harmonic,
                    "The spectral centroid sum k A_k / sum A_k, as a harmonic number.")
      .def_readonly("odd_even_db", &TimbreDescriptors::odd_even_db,
                    "10 log10 of the energy of odd harmonics from 3 over that of even ones, dB; "
                    "None when either is zero.")
      .def_readonly("t1", &TimbreDescriptors::t1, "Tristimulus T1: A_1 / sum A_k.")
      .def_readonly("t2", &TimbreDescriptors::t2, "Tristimulus T2: (A_2 + A_3 + A_4) / sum A_k.")
      .def_readonly("t3", &TimbreDescriptors::t3, "Tristimulus T3: sum A_k, k >= 5 / sum A_k.")
      .def_readonly("slope_db_per_octave", &TimbreDescriptors::slope_db_per_octave,
                    "The least-squares slope of 20 log10 A_k against log2 k, dB per octave; "
                    "None with fewer than two harmonics.")
      .def("__repr__", [](const TimbreDescriptors& d) {
        return "<Descriptors centroid_hz=" + short_text(d.centroid_hz) +
               " harmonics_used=" + std::to_string(d.harmonics_used) + ">";
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
                    "The mean fundamental over the passes used, Hz (partial 1's frequency when "
                    "the partials were measured); None when not measured.")
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
      .def_readonly("partials", &Tone::partials,
                    "Each partial at its own frequency, from 1 (partials=True); None otherwise, "
                    "or when no pass was long enough (24 cycles).")
      .def_readonly("inharmonicity", &Tone::inharmonicity,
                    "How stretched the partials are (partials=True); None otherwise or when "
                    "too few partials show it.")
      .def_readonly("vibrato", &Tone::vibrato,
                    "The pitch's vibrato (partials=True); None otherwise or when none was "
                    "found.")
      .def_readonly("descriptors", &Tone::descriptors,
                    "The timbre descriptors (Descriptors); None when the tone was not measured "
                    "or no harmonic was left to compute them from.")
      .def_readonly("split_from", &Tone::split_from,
                    "The number (from 1) of the tone of notes played legato that this note was "
                    "split from (robust split_legato); None otherwise.")
      .def_readonly("expected_note", &Tone::expected_note,
                    "The note the tone is judged against: the one expected of it, or else the "
                    "tuning's nearest; None when no target was asked for (expect, temperament, "
                    "temperament_root, stretch), or the tone is neither expected nor measured.")
      .def_readonly("expected_hz", &Tone::expected_hz,
                    "Where expected_note should sound in the tuning, Hz; None with it.")
      .def_readonly("expected_from", &Tone::expected_from,
                    "'expectation' when expected_note is the one expected, 'nearest' when it is "
                    "the tuning's nearest; None with it.")
      .def_readonly("deviation_cents", &Tone::deviation_cents,
                    "The frequency's deviation from expected_hz, cents; None when no target was "
                    "asked for or the tone was not measured.")
      .def_readonly("octave_check", &Tone::octave_check,
                    "What the octave guard found when it checked the tone, found an octave, a "
                    "twelfth or two octaves from its expected note (robust or partials mode); "
                    "None otherwise.")
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

  // The signature is written into the docstring, with the Python types.
  py::options options;
  options.disable_function_signatures();
  module.def(
      "best_reference",
      [](const py::handle& tones, const py::handle& a4, const py::handle& temperament,
         const py::handle& root, const py::handle& stretch) {
        const TargetKeywords target{py::none(), temperament, root, stretch};
        return best_reference_of(tones, tuning_from(a4_from(a4), target));
      },
      py::arg("tones"), py::kw_only(), py::arg("a4") = 440.0,
      py::arg("temperament") = py::none(), py::arg("temperament_root") = py::none(),
      py::arg("stretch") = py::none(),
      R"(best_reference(tones: Iterable[Tone], *, a4: float = 440.0, temperament: str | os.PathLike | None = None, temperament_root: str | None = None, stretch: float | None = None) -> BestReference | None

The A4 at which measured tones fit a tuning best, as toneprint-batch gives
it for a run: each measured tone, judged against the note expected of it
(when the analysis was given one) or else the tuning's nearest, gives the
A4 at which it would sound its target exactly; the result is their median
and its 95 % interval. temperament, temperament_root and stretch are
those of analyse(), a4 the reference that the nearest notes are found at.
None when no tone was measured.)");
}

}  // namespace toneprint::python
