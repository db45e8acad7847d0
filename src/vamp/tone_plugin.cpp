#include "vamp/tone_plugin.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <iostream>
#include <limits>
#include <optional>
#include <span>

#include "analysis/recording_result.h"
#include "analysis/tone_analysis.h"
#include "analysis/tone_results.h"
#include "readers/memory_source.h"
#include "report/report_figures.h"

namespace toneprint {
namespace {

// How hosts show each setting, in the order of setting_bounds.
struct ParameterLook {
  const char* name;
  const char* unit;
};
constexpr std::array<ParameterLook, setting_bounds.size()> parameter_looks = {{
    {"Harmonics", ""},
    {"Shortest measurement frame", "s"},
    {"Attack skip", "s"},
    {"Peak threshold", ""},
    {"Silence between tones", "s"},
    {"FFT size", ""},
    {"FFT hop", "samples"},
    {"Silence threshold", ""},
    {"Fewest cycles", ""},
    {"Longest frame extension", "s"},
    {"Largest cycle fraction", ""},
    {"Spectral peaks", ""},
}};

constexpr std::size_t a4_index = setting_bounds.size();
constexpr const char* a4_identifier = "a4";
// The FFT sizes' menu choices run from 1 (2048) to 4 (16384).
constexpr double last_fft_choice = 4.0;
// The hop's bound is the FFT size chosen; the parameter's is the largest.
constexpr double longest_hop = 16384.0;

double parameter_maximum(const SettingBounds& bounds) {
  if (bounds.setting == Setting::fft_choice) return last_fft_choice;
  if (bounds.setting == Setting::fft_hop) return longest_hop;
  return bounds.maximum;
}

// A host's float as the decimal it was typed as: 0.3f is taken as 0.3, not
// as 0.300000011920929, so that a default given back by a host gives the
// programs' results.
double typed_value(float value) {
  char text[32];
  const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
  double parsed = value;
  std::from_chars(text, written.ptr, parsed);
  return parsed;
}

Vamp::RealTime at(std::uint64_t sample, std::uint32_t sample_rate) {
  return Vamp::RealTime::frame2RealTime(static_cast<long>(sample), sample_rate);
}

float value_or_nan(const std::optional<double>& value) {
  return value ? static_cast<float>(*value) : std::numeric_limits<float>::quiet_NaN();
}

}  // namespace

TonePlugin::TonePlugin(float input_sample_rate)
    : Vamp::Plugin(input_sample_rate),
      sample_rate_(input_sample_rate >= 1.0f && input_sample_rate < 4.0e9f
                       ? static_cast<std::uint32_t>(std::lround(input_sample_rate))
                       : 0) {
  AnalysisSettings defaults;
  set_default_settings(defaults, sample_rate_);
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    values_[i] = setting_value(defaults, setting_bounds[i].setting);
  }
  values_[a4_index] = default_a4;
}

std::string TonePlugin::getDescription() const {
  return "Splits the recording into tones at its silences, skips each attack, and measures each "
         "tone's fundamental and harmonics over frames of whole cycles, as toneprint-batch does "
         "(toneprint " TONEPRINT_VERSION "). Samples are taken on the 16-bit scale (times 32768).";
}

std::string TonePlugin::getCopyright() const {
  return "The toneprint developers; no licence declared";
}

int TonePlugin::getPluginVersion() const { return TONEPRINT_VERSION_NUMBER; }

TonePlugin::ParameterList TonePlugin::getParameterDescriptors() const {
  ParameterList list;
  AnalysisSettings defaults;
  set_default_settings(defaults, sample_rate_);
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    const SettingBounds& bounds = setting_bounds[i];
    ParameterDescriptor d;
    d.identifier = setting_names[i].name;
    d.name = parameter_looks[i].name;
    d.description = setting_names[i].description;
    d.unit = parameter_looks[i].unit;
    d.minValue = static_cast<float>(bounds.minimum);
    d.maxValue = static_cast<float>(parameter_maximum(bounds));
    d.defaultValue = static_cast<float>(setting_value(defaults, bounds.setting));
    d.isQuantized = bounds.kind == SettingKind::whole;
    d.quantizeStep = 1.0f;
    if (bounds.setting == Setting::fft_choice) {
      for (std::uint32_t choice = 1; choice <= last_fft_choice; ++choice) {
        d.valueNames.push_back(std::to_string(fft_size_for_choice(choice)));
      }
    }
    list.push_back(d);
  }
  ParameterDescriptor a4;
  a4.identifier = a4_identifier;
  a4.name = "A4 reference";
  a4.description = "Frequency of A4 for note names and cents";
  a4.unit = "Hz";
  a4.minValue = static_cast<float>(min_a4);
  a4.maxValue = static_cast<float>(max_a4);
  a4.defaultValue = static_cast<float>(default_a4);
  list.push_back(a4);
  return list;
}

float TonePlugin::getParameter(std::string identifier) const {
  if (identifier == a4_identifier) return static_cast<float>(values_[a4_index]);
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    if (identifier == setting_names[i].name) return static_cast<float>(values_[i]);
  }
  return 0.0f;
}

void TonePlugin::setParameter(std::string identifier, float value) {
  if (std::isnan(value)) return;
  double minimum = min_a4;
  double maximum = max_a4;
  std::size_t index = a4_index;
  bool whole = false;
  if (identifier != a4_identifier) {
    index = 0;
    while (index < setting_bounds.size() && identifier != setting_names[index].name) ++index;
    if (index == setting_bounds.size()) return;  // not one of ours
    minimum = setting_bounds[index].minimum;
    maximum = parameter_maximum(setting_bounds[index]);
    whole = setting_bounds[index].kind == SettingKind::whole;
  }
  // A host may pass any float: it is held to the bounds, and a whole
  // setting takes the nearest whole number (a host's quantisation may
  // leave 3.9999998 for 4).
  double typed = std::clamp(typed_value(value), minimum, maximum);
  if (whole) typed = std::round(typed);
  values_[index] = typed;
}

TonePlugin::OutputList TonePlugin::getOutputDescriptors() const {
  const auto harmonic_count = static_cast<std::size_t>(
      values_[static_cast<std::size_t>(Setting::harmonic_count)]);
  const auto rate = static_cast<float>(sample_rate_);
  OutputDescriptor tone;
  tone.identifier = "tones";
  tone.name = "Tones";
  tone.description =
      "Each tone from its first loud sample to where its closing silence begins: its mean "
      "fundamental over its passes, labelled with the nearest note and the deviation from it in "
      "cents; a tone with no value is labelled too short or no pitch";
  tone.unit = "Hz";
  tone.hasFixedBinCount = true;
  tone.binCount = 1;
  tone.sampleType = OutputDescriptor::VariableSampleRate;
  tone.sampleRate = rate;
  tone.hasDuration = true;

  OutputDescriptor amplitudes = tone;
  amplitudes.identifier = "harmonics";
  amplitudes.name = "Harmonics";
  amplitudes.description =
      "Each measured tone's mean amplitude of its fundamental (h0) and of each harmonic above it "
      "(hk at k + 1 times the fundamental), on the 16-bit scale (a full-scale sine is 32768); "
      "NaN above half the sample rate";
  amplitudes.unit = "";
  amplitudes.binCount = harmonic_count + 1;
  for (std::size_t k = 0; k <= harmonic_count; ++k) {
    amplitudes.binNames.push_back(std::string("h").append(std::to_string(k)));
  }

  OutputDescriptor level = amplitudes;
  level.identifier = "levels";
  level.name = "Harmonic levels";
  level.description =
      "Each measured tone's harmonics in dB relative to its fundamental (h0 is 0 dB); NaN above "
      "half the sample rate";
  level.unit = "dB";

  OutputDescriptor pass = tone;
  pass.identifier = "passes";
  pass.name = "Passes";
  pass.description =
      "Each measurement pass's fundamental, at the start of its pitch-detection block, labelled "
      "with the nearest note and the deviation in cents";
  pass.hasDuration = false;

  OutputDescriptor failed = pass;
  failed.identifier = "failed";
  failed.name = "Failed passes";
  failed.description = "Each pass that found no fundamental, labelled with the reason";
  failed.unit = "";
  failed.binCount = 0;

  // In the order of enum Output.
  return {tone, amplitudes, level, pass, failed};
}

bool TonePlugin::initialise(std::size_t channels, std::size_t step_size, std::size_t block_size) {
  if (sample_rate_ == 0) {
    std::cerr << "toneprint: the sample rate " << getInputSampleRate() << " cannot be analysed\n";
    return false;
  }
  if (channels < getMinChannelCount() || channels > getMaxChannelCount()) return false;
  if (step_size == 0) step_size = block_size;
  if (block_size == 0 || step_size > block_size) {
    std::cerr << "toneprint: needs every sample: a step of " << step_size
              << " is longer than the block of " << block_size << "\n";
    return false;
  }
  AnalysisSettings settings;
  set_default_settings(settings, sample_rate_);
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    const SettingBounds& bounds = setting_bounds[i];
    // The hop's bound is the FFT size, stored just before it.
    if (bounds.setting == Setting::fft_hop && values_[i] > settings.fft_size) {
      std::cerr << "toneprint: the FFT hop " << values_[i] << " is longer than the FFT size "
                << settings.fft_size << "\n";
      return false;
    }
    store_setting(settings, bounds.setting, values_[i]);
  }
  settings_ = settings;
  channels_ = channels;
  step_ = step_size;
  block_ = block_size;
  reset();
  return true;
}

void TonePlugin::reset() {
  samples_.clear();
  samples_.shrink_to_fit();
  blocks_ = 0;
  origin_ = Vamp::RealTime::zeroTime;
  failed_ = false;
}

TonePlugin::FeatureSet TonePlugin::process(const float* const* input, Vamp::RealTime timestamp) {
  if (failed_ || channels_ == 0) return {};
  if (blocks_ == 0) origin_ = timestamp;
  // Blocks start a step apart; where they overlap, the samples already
  // kept are not kept again.
  const std::uint64_t first = blocks_ * step_;
  const std::uint64_t kept = samples_.size() / channels_;
  const std::size_t from = kept > first ? static_cast<std::size_t>(kept - first) : 0;
  ++blocks_;
  if (from >= block_) return {};
  try {
    std::size_t at = samples_.size();
    samples_.resize(at + (block_ - from) * channels_);
    for (std::size_t i = from; i < block_; ++i) {
      for (std::size_t c = 0; c < channels_; ++c) samples_[at++] = input[c][i];
    }
  } catch (const std::bad_alloc&) {
    std::cerr << "toneprint: out of memory after " << kept << " samples; no tones reported\n";
    failed_ = true;
    samples_.clear();
    samples_.shrink_to_fit();
  }
  return {};
}

std::size_t TonePlugin::kept_frames() const {
  if (channels_ == 0) return 0;
  std::size_t frames = samples_.size() / channels_;
  // A host fills the last block up with zeros beyond the recording's end.
  // They are not part of it: a tone that the recording cuts off within its
  // attack skip would be taken for one that falls silent there. (Zeros that
  // a recording ends in itself, within its last block, go with them.)
  const std::uint64_t last_block = blocks_ > 0 ? (blocks_ - 1) * step_ : 0;
  const auto silent = [this](std::size_t frame) {
    for (std::size_t c = 0; c < channels_; ++c) {
      if (samples_[frame * channels_ + c] != 0.0f) return false;
    }
    return true;
  };
  while (frames > last_block && silent(frames - 1)) --frames;
  return frames;
}

TonePlugin::FeatureSet TonePlugin::getRemainingFeatures() {
  FeatureSet features;
  if (failed_ || channels_ == 0) return features;
  try {
    const std::size_t frames = kept_frames();
    RecordingFormat format;
    format.container = "Vamp host";
    format.sample_type = "float32";
    format.sample_rate = sample_rate_;
    format.channels = static_cast<std::uint32_t>(channels_);
    MemorySource<float> source(std::span<const float>(samples_.data(), frames * channels_), format,
                               ChannelChoice::mix(), 32768.0);
    ToneCollector collector;
    analyse_tones(source, settings_, collector);

    RecordingResult result;
    result.opened = true;
    result.format = source.format();
    result.settings = settings_;
    result.samples = frames;
    result.tones = std::move(collector.tones());
    const double a4 = values_[a4_index];
    const RecordingFigure figure = recording_figure(result, a4);

    for (std::size_t t = 0; t < result.tones.size(); ++t) {
      const ToneRecord& record = result.tones[t];
      Feature tone;
      tone.hasTimestamp = true;
      tone.timestamp = origin_ + at(record.start, sample_rate_);
      tone.hasDuration = true;
      tone.duration = at(record.end - record.start, sample_rate_);
      tone.label = figure.tones[t].label;
      if (record.measured()) {
        tone.values.push_back(static_cast<float>(record.frequency()));
        Feature amplitudes = tone;
        amplitudes.label.clear();
        amplitudes.values.clear();
        Feature relative = amplitudes;
        for (std::size_t k = 0; k < record.totals.amplitude_sums.size(); ++k) {
          amplitudes.values.push_back(value_or_nan(record.harmonic(k)));
          relative.values.push_back(value_or_nan(figure.tones[t].levels_db[k]));
        }
        features[harmonics].push_back(amplitudes);
        features[levels].push_back(relative);
      }
      features[tones].push_back(tone);
      for (const MeasuredPass& measured : record.passes) {
        Feature pass;
        pass.hasTimestamp = true;
        pass.timestamp = origin_ + at(measured.first, sample_rate_);
        pass.values.push_back(static_cast<float>(measured.fundamental));
        const NearestNote note = nearest_note(measured.fundamental, a4);
        pass.label = note.name + " " + cents_text(note.cents);
        features[passes].push_back(pass);
      }
      for (const FailedPass& failure : record.failures) {
        Feature pass;
        pass.hasTimestamp = true;
        pass.timestamp = origin_ + at(failure.first, sample_rate_);
        pass.label = failure.message;
        features[failed_passes].push_back(pass);
      }
    }
  } catch (const std::exception& error) {
    // Nothing may leave the plugin for the host's C interface.
    std::cerr << "toneprint: the analysis stopped: " << error.what() << "\n";
    return {};
  }
  return features;
}

}  // namespace toneprint
