#include "vamp/tone_plugin.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <exception>
#include <functional>
#include <iostream>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "toneprint/toneprint.h"
#include "html/report_figures.h"

namespace toneprint {
namespace {

// How hosts show each setting, in the order of setting_bounds.
struct ParameterLook {
  const char* name;
  const char* unit;
};
constexpr std::array<ParameterLook, setting_bounds.size()> parameter_looks = {{
    {"Harmonics", ""},
    {"Minimum tone duration", "s"},
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
constexpr const char* robust_identifier = "robust";
constexpr const char* partials_identifier = "partials";
constexpr const char* temperament_identifier = "temperament";
constexpr const char* root_identifier = "temperament-root";
constexpr const char* stretch_identifier = "stretch";
constexpr double last_pitch_class = 11.0;
// A host's samples are floats in ±1; the analysis takes the 16-bit scale.
constexpr double host_scale = 32768.0;
// The samples between the host's thread and the analysis's (512 KiB).
constexpr std::size_t feed_samples = std::size_t{1} << 16;
// Hosts show the FFT size as a menu, whose values run from 1 (the first of
// fft_sizes) up.
constexpr double last_fft_choice = static_cast<double>(fft_sizes.size());

double parameter_minimum(const SettingBounds& bounds) {
  return bounds.setting == Setting::fft_size ? 1.0 : bounds.minimum;
}
double parameter_maximum(const SettingBounds& bounds) {
  return bounds.setting == Setting::fft_size ? last_fft_choice : bounds.maximum;
}

// A setting's value as its parameter holds it, and back.
double parameter_value(const AnalysisSettings& settings, Setting setting) {
  if (setting != Setting::fft_size) return setting_value(settings, setting);
  const auto found = std::find(fft_sizes.begin(), fft_sizes.end(), settings.fft_size);
  return static_cast<double>(found - fft_sizes.begin() + 1);
}
double setting_of_parameter(Setting setting, double value) {
  if (setting != Setting::fft_size) return value;
  const auto choice = static_cast<std::size_t>(std::clamp(value, 1.0, last_fft_choice));
  return fft_sizes[choice - 1];
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

// Hosts show the temperament as a menu of the built-in ones, from 0.
double last_temperament() { return static_cast<double>(built_in_temperaments.size() - 1); }

std::size_t equal_temperament() {
  std::size_t index = 0;
  while (index + 1 < built_in_temperaments.size() &&
         std::string_view(built_in_temperaments[index].name) != "equal") {
    ++index;
  }
  return index;
}

Vamp::RealTime at(std::uint64_t sample, std::uint32_t sample_rate) {
  return Vamp::RealTime::frame2RealTime(static_cast<long>(sample), sample_rate);
}

float value_or_nan(const std::optional<double>& value) {
  return value ? static_cast<float>(*value) : std::numeric_limits<float>::quiet_NaN();
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// A positive number to one significant digit: "3e-9".
std::string one_digit(double value) {
  int exponent = static_cast<int>(std::floor(std::log10(value)));
  long digit = std::lround(value / std::pow(10.0, exponent));
  if (digit >= 10) {
    digit = 1;
    ++exponent;
  }
  return std::to_string(digit) + "e" + std::to_string(exponent);
}

// A tone's partials and inharmonicity, at the tone's time and for its
// duration: NaN where toneprint-batch writes null.
void add_partials(Vamp::Plugin::FeatureSet& features, const Vamp::Plugin::Feature& tone,
                  const TonePartials& summary, std::size_t bins) {
  Vamp::Plugin::Feature partials = tone;
  partials.label.clear();
  partials.values.assign(bins, std::numeric_limits<float>::quiet_NaN());
  for (const TonePartial& p : summary.partials) {
    const auto index = static_cast<std::size_t>(p.number) - 1;
    if (index < bins && !p.below_noise && p.frequency && std::isfinite(*p.frequency)) {
      partials.values[index] = static_cast<float>(*p.frequency);
    }
  }
  features[TonePlugin::partials].push_back(std::move(partials));
  if (!summary.inharmonicity) return;
  Vamp::Plugin::Feature b = tone;
  b.values = {static_cast<float>(summary.inharmonicity->b)};
  b.label = inharmonicity_label(summary.inharmonicity->b, summary.inharmonicity->uncertainty);
  features[TonePlugin::inharmonicity].push_back(std::move(b));
}

// The host's samples have been handed over once: there is no going back.
std::unique_ptr<SampleSource> cannot_reopen(std::string& error) {
  error = "the host's samples cannot be read again";
  return nullptr;
}

void report_stop(const char* why) noexcept {
  std::cerr << "toneprint: the analysis stopped: " << why << "; no tones reported\n";
}

// The fed analysis, on its own thread. Nothing may leave a thread's
// function (it would end the host): a failure is reported and marked.
void analyse_fed(SampleFeed& feed, const AnalysisOptions& options, RecordingResult& result,
                 std::atomic<bool>& failed) noexcept {
  try {
    std::unique_ptr<SampleSource> source = std::make_unique<BorrowedSource>(feed);
    std::atomic<std::uint64_t> read = 0;
    analyse_source(source, cannot_reopen, options, result, read);
  } catch (const std::exception& error) {
    failed = true;
    report_stop(error.what());
  } catch (...) {
    failed = true;
    report_stop("an unknown error");
  }
  // The host's thread may wait for room: it must not wait for ever.
  try {
    feed.stop_reading();
  } catch (...) {
    failed = true;
  }
}

}  // namespace

std::string inharmonicity_label(double b, double uncertainty) {
  const bool known = std::isfinite(uncertainty) && uncertainty >= 0.0;
  const double size = std::max(std::abs(b), known ? uncertainty : 0.0);
  int exponent = size > 0.0 && std::isfinite(size) ? static_cast<int>(std::floor(std::log10(size))) : 0;
  // B shown to the uncertainty's first digit, in B's power of ten; an
  // uncertainty too small for three decimals of it is shown on its own.
  constexpr int most_decimals = 3;
  int decimals = 2;
  if (known) {
    decimals = uncertainty > 0.0
                   ? exponent - static_cast<int>(std::floor(std::log10(uncertainty)))
                   : most_decimals;
    decimals = std::max(decimals, 1);
  }
  std::string shown = fixed(b / std::pow(10.0, exponent), std::min(decimals, most_decimals));
  if (std::abs(std::stod(shown)) >= 10.0) {  // 9.96e-4 rounded up: 1.00e-3
    ++exponent;
    ++decimals;
    shown = fixed(b / std::pow(10.0, exponent), std::min(decimals, most_decimals));
  }
  const std::string power = "e" + std::to_string(exponent);
  std::string label = "B " + shown + power;
  if (!known) return label + ", uncertainty unknown";
  if (uncertainty == 0.0) return label + " \u00b1 0";
  if (decimals > most_decimals) return label + " \u00b1 " + one_digit(uncertainty);
  return label + " \u00b1 " + fixed(uncertainty / std::pow(10.0, exponent), decimals) + power;
}

TonePlugin::TonePlugin(float input_sample_rate)
    : Vamp::Plugin(input_sample_rate),
      sample_rate_(input_sample_rate >= 1.0f && input_sample_rate < 4.0e9f
                       ? static_cast<std::uint32_t>(std::lround(input_sample_rate))
                       : 0) {
  AnalysisSettings defaults;
  set_default_settings(defaults, sample_rate_);
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    values_[i] = parameter_value(defaults, setting_bounds[i].setting);
  }
  values_[a4_index] = default_a4;
  temperament_ = equal_temperament();
}

TonePlugin::~TonePlugin() { stop_feed(true); }

std::string TonePlugin::getDescription() const {
  return "Splits the recording into tones at its silences, skips each attack, and measures each "
         "tone's fundamental and harmonics over frames of whole cycles, as toneprint-batch does "
         "(toneprint " TONEPRINT_VERSION "). Samples are taken on the 16-bit scale (times 32768). "
         "Its memory does not grow with the recording, except in the robust mode, which reads "
         "the recording twice and so keeps the mean of its channels, 4 bytes a sample (690 MB an "
         "hour at 48 kHz), up to 2^28 samples (93 minutes at 48 kHz).";
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
    d.minValue = static_cast<float>(parameter_minimum(bounds));
    d.maxValue = static_cast<float>(parameter_maximum(bounds));
    d.defaultValue = static_cast<float>(parameter_value(defaults, bounds.setting));
    d.isQuantized = bounds.kind == SettingKind::whole;
    d.quantizeStep = 1.0f;
    if (bounds.setting == Setting::fft_size) {
      for (const std::uint32_t size : fft_sizes) d.valueNames.push_back(std::to_string(size));
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
  ParameterDescriptor robust;
  robust.identifier = robust_identifier;
  robust.name = "Robust mode";
  robust.description =
      "toneprint-batch's --robust, for real instruments: short tones followed into their tails "
      "and given a shorter attack skip, each pass's fundamental checked, each tone's mean over "
      "its agreeing passes, the silence threshold lowered to 19 dB below the loudest sample, "
      "notes played legato split into a tone each. Keeps the recording's channel mix in memory";
  robust.unit = "";
  robust.minValue = 0.0f;
  robust.maxValue = 1.0f;
  robust.defaultValue = 0.0f;
  robust.isQuantized = true;
  robust.quantizeStep = 1.0f;
  robust.valueNames = {"off", "on"};
  list.push_back(robust);
  ParameterDescriptor partials = robust;
  partials.identifier = partials_identifier;
  partials.name = "Partials";
  partials.description =
      "toneprint-batch's --partials: each partial measured at its own frequency, through "
      "vibrato and a stiff string's stretched partials, for the Partials and Inharmonicity "
      "outputs; each tone's frequency is then its first partial's";
  list.push_back(partials);

  // The tuning that the Deviation output judges each tone against.
  ParameterDescriptor temperament;
  temperament.identifier = temperament_identifier;
  temperament.name = "Temperament";
  temperament.description =
      "The temperament that the Deviation output's targets lie in, as toneprint-batch's "
      "--temperament";
  temperament.unit = "";
  temperament.minValue = 0.0f;
  temperament.maxValue = static_cast<float>(last_temperament());
  temperament.defaultValue = static_cast<float>(equal_temperament());
  temperament.isQuantized = true;
  temperament.quantizeStep = 1.0f;
  for (const BuiltInTemperament& t : built_in_temperaments) {
    temperament.valueNames.emplace_back(t.name);
  }
  list.push_back(temperament);
  ParameterDescriptor root = temperament;
  root.identifier = root_identifier;
  root.name = "Temperament root";
  root.description = "The note the temperament is laid on, as toneprint-batch's --temperament-root";
  root.maxValue = static_cast<float>(last_pitch_class);
  root.defaultValue = 0.0f;
  root.valueNames.clear();
  for (int pitch_class = 0; pitch_class <= 11; ++pitch_class) {
    root.valueNames.push_back(pitch_class_name(pitch_class));
  }
  list.push_back(root);
  ParameterDescriptor stretch;
  stretch.identifier = stretch_identifier;
  stretch.name = "Stretch";
  stretch.description =
      "How much wider each octave above A4 is (and each below narrower) for the Deviation "
      "output's targets, as toneprint-batch's --stretch";
  stretch.unit = "cents/octave";
  stretch.minValue = static_cast<float>(-max_stretch_cents);
  stretch.maxValue = static_cast<float>(max_stretch_cents);
  stretch.defaultValue = 0.0f;
  list.push_back(stretch);
  return list;
}

float TonePlugin::getParameter(std::string identifier) const {
  if (identifier == a4_identifier) return static_cast<float>(values_[a4_index]);
  if (identifier == robust_identifier) return robust_ ? 1.0f : 0.0f;
  if (identifier == partials_identifier) return partials_ ? 1.0f : 0.0f;
  if (identifier == temperament_identifier) return static_cast<float>(temperament_);
  if (identifier == root_identifier) return static_cast<float>(root_);
  if (identifier == stretch_identifier) return static_cast<float>(stretch_);
  for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
    if (identifier == setting_names[i].name) return static_cast<float>(values_[i]);
  }
  return 0.0f;
}

void TonePlugin::setParameter(std::string identifier, float value) {
  if (std::isnan(value)) return;
  if (identifier == robust_identifier) {
    robust_ = value >= 0.5f;
    return;
  }
  if (identifier == partials_identifier) {
    partials_ = value >= 0.5f;
    return;
  }
  if (identifier == temperament_identifier) {
    temperament_ = static_cast<std::size_t>(
        std::round(std::clamp(typed_value(value), 0.0, last_temperament())));
    return;
  }
  if (identifier == root_identifier) {
    root_ = static_cast<int>(std::round(std::clamp(typed_value(value), 0.0, last_pitch_class)));
    return;
  }
  if (identifier == stretch_identifier) {
    stretch_ = std::clamp(typed_value(value), -max_stretch_cents, max_stretch_cents);
    return;
  }
  double minimum = min_a4;
  double maximum = max_a4;
  std::size_t index = a4_index;
  bool whole = false;
  if (identifier != a4_identifier) {
    index = 0;
    while (index < setting_bounds.size() && identifier != setting_names[index].name) ++index;
    if (index == setting_bounds.size()) return;  // not one of ours
    minimum = parameter_minimum(setting_bounds[index]);
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

  OutputDescriptor partial = amplitudes;
  partial.identifier = "partials";
  partial.name = "Partials";
  partial.description =
      "With the partials parameter, each tone's partials measured at their own frequencies "
      "(p1 is the fundamental), in Hz; NaN where a partial is below the noise or not measured";
  partial.unit = "Hz";
  partial.binNames.clear();
  for (std::size_t k = 1; k <= harmonic_count + 1; ++k) {
    partial.binNames.push_back(std::string("p").append(std::to_string(k)));
  }

  OutputDescriptor stiffness = tone;
  stiffness.identifier = "inharmonicity";
  stiffness.name = "Inharmonicity";
  stiffness.description =
      "With the partials parameter, each tone's inharmonicity coefficient B, how far a stiff "
      "string stretches its partials (partial n at n F sqrt(1 + B n^2)), labelled with B and its "
      "standard error";
  stiffness.unit = "";

  OutputDescriptor target = pass;
  target.identifier = "deviation";
  target.name = "Deviation from target";
  target.description =
      "Each measured tone's deviation from the nearest note of the tuning (the temperament on "
      "its root, the A4 reference, the stretch), in cents, at the tone's start, labelled with "
      "that note";
  target.unit = "cents";

  // In the order of enum Output.
  return {tone, amplitudes, level, pass, failed, partial, stiffness, target};
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
    store_setting(settings, bounds.setting, setting_of_parameter(bounds.setting, values_[i]));
  }
  settings_ = settings;
  robust_run_ = robust_ ? all_robust_changes() : RobustSettings{};
  partials_run_ = partials_;
  tuning_ = Tuning{};
  tuning_.a4 = values_[a4_index];
  tuning_.root = root_;
  tuning_.stretch_cents = stretch_;
  TemperamentRead temperament = read_temperament(built_in_temperaments[temperament_].name);
  if (temperament.temperament) tuning_.temperament = std::move(*temperament.temperament);
  channels_ = channels;
  step_ = step_size;
  block_ = block_size;
  reset();
  return true;
}

void TonePlugin::reset() {
  stop_feed(true);
  feed_.reset();
  kept_.reset();
  fed_result_ = RecordingResult{};
  worker_failed_ = false;
  blocks_ = 0;
  origin_ = Vamp::RealTime::zeroTime;
  taken_ = 0;
  silent_ = 0;
  failed_ = false;
  finished_ = false;
}

void TonePlugin::start_feed() {
  RecordingFormat format;
  format.container = "Vamp host";
  format.sample_type = "float32";
  format.sample_rate = sample_rate_;
  format.channels = static_cast<std::uint32_t>(channels_);
  feed_ = std::make_unique<SampleFeed>(format, feed_samples);
  fed_result_ = RecordingResult{};
  fed_result_.settings = settings_;
  try {
    worker_ = std::thread(analyse_fed, std::ref(*feed_), run_options(), std::ref(fed_result_),
                          std::ref(worker_failed_));
  } catch (...) {
    // Without a reader, a full feed would hold the host for ever.
    feed_.reset();
    throw;
  }
}

void TonePlugin::stop_feed(bool drop) noexcept {
  try {
    if (feed_) feed_->close(drop);
    if (worker_.joinable()) worker_.join();
  } catch (...) {
    worker_failed_ = true;
  }
}

bool TonePlugin::pass_on(std::span<const double> mix) {
  if (mix.empty()) return true;
  if (robust_run_.any()) {
    if (!kept_) kept_ = std::make_unique<KeptSamples>(most_kept_samples);
    if (kept_->add(mix)) return true;
    std::cerr << "toneprint: the robust mode keeps at most " << most_kept_samples
              << " samples; this recording is longer, so no tones are reported (analyse it "
                 "without the robust mode)\n";
    kept_.reset();
    return false;
  }
  if (!feed_) start_feed();
  return feed_->write(mix);
}

bool TonePlugin::pass_on_silence(std::uint64_t count) {
  static constexpr std::array<double, 1024> zeros{};
  while (count > 0) {
    const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, zeros.size()));
    if (!pass_on(std::span<const double>(zeros.data(), piece))) return false;
    count -= piece;
  }
  return true;
}

TonePlugin::FeatureSet TonePlugin::process(const float* const* input, Vamp::RealTime timestamp) {
  if (failed_ || finished_ || channels_ == 0) return {};
  // Nothing may leave the plugin for the host's C interface.
  try {
    if (blocks_ == 0) origin_ = timestamp;
    // Blocks start a step apart; where they overlap, the samples already
    // taken are not taken again.
    const std::uint64_t first = blocks_ * step_;
    const std::size_t from = taken_ > first ? static_cast<std::size_t>(taken_ - first) : 0;
    ++blocks_;
    if (from >= block_) return {};
    taken_ += block_ - from;
    mix_.clear();
    bool going = true;
    for (std::size_t i = from; i < block_ && going; ++i) {
      // The channels' mean as the file readers form it: the scaled values
      // summed in channel order, then divided.
      double value = 0.0;
      bool silent = true;
      for (std::size_t c = 0; c < channels_; ++c) {
        silent = silent && input[c][i] == 0.0f;
        value += static_cast<double>(input[c][i]) * host_scale;
      }
      if (silent) {
        ++silent_;
        continue;
      }
      if (silent_ > 0) {
        going = pass_on(mix_) && pass_on_silence(silent_);
        mix_.clear();
        silent_ = 0;
      }
      if (channels_ > 1) value /= static_cast<double>(channels_);
      mix_.push_back(std::isfinite(value) ? value : 0.0);
    }
    failed_ = !going || !pass_on(mix_);
  } catch (const std::exception& error) {
    failed_ = true;
    report_stop(error.what());
  } catch (...) {
    failed_ = true;
    report_stop("an unknown error");
  }
  if (failed_) stop_feed(true);
  return {};
}

std::optional<RecordingResult> TonePlugin::finish() {
  // The silent samples at the end that lie in the last block are the
  // host's padding: a tone that the recording cuts off within its attack
  // skip would be taken for one that falls silent there. (Zeros that a
  // recording ends in itself, within its last block, go with them.) Those
  // before it are the recording's.
  const std::uint64_t last_block = blocks_ > 0 ? (blocks_ - 1) * step_ : 0;
  const std::uint64_t silent_from = taken_ - silent_;
  if (!failed_ && last_block > silent_from) failed_ = !pass_on_silence(last_block - silent_from);
  silent_ = 0;
  if (failed_) {
    stop_feed(true);
    return std::nullopt;
  }
  RecordingResult result;
  result.settings = settings_;
  if (kept_) {
    RecordingFormat format;
    format.container = "Vamp host";
    format.sample_type = "float32";
    format.sample_rate = sample_rate_;
    format.channels = static_cast<std::uint32_t>(channels_);
    std::unique_ptr<SampleSource> source = kept_->source(format);
    std::atomic<std::uint64_t> read = 0;
    analyse_source(source, cannot_reopen, run_options(), result, read);
    source.reset();
    kept_.reset();
    return result;
  }
  if (!feed_) return result;  // nothing but silence
  stop_feed(false);
  if (worker_failed_) return std::nullopt;
  return std::move(fed_result_);
}

TonePlugin::FeatureSet TonePlugin::getRemainingFeatures() {
  if (channels_ == 0 || finished_) return {};
  finished_ = true;
  // Nothing may leave the plugin for the host's C interface.
  try {
    const std::optional<RecordingResult> result = finish();
    if (result) return features(*result);
  } catch (const std::exception& error) {
    report_stop(error.what());
  } catch (...) {
    report_stop("an unknown error");
  }
  stop_feed(true);
  return {};
}

AnalysisOptions TonePlugin::run_options() const {
  AnalysisOptions run;
  run.robust = robust_run_;
  run.partials = partials_run_;
  return run;
}

TonePlugin::FeatureSet TonePlugin::features(const RecordingResult& result) const {
  FeatureSet features;
  const double a4 = values_[a4_index];
  const RecordingFigure figure = recording_figure(result, a4);
  const std::size_t harmonic_count = std::size_t{result.settings.harmonic_count} + 1;
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
      for (std::size_t k = 0; k < harmonic_count; ++k) {
        amplitudes.values.push_back(value_or_nan(record.harmonic(k)));
        relative.values.push_back(value_or_nan(figure.tones[t].levels_db[k]));
      }
      features[harmonics].push_back(amplitudes);
      features[levels].push_back(relative);
      if (record.partials) add_partials(features, tone, *record.partials, harmonic_count);
    }
    features[tones].push_back(tone);
    if (const std::optional<ToneTarget> target = tone_target(record, tuning_);
        target && target->deviation_cents) {
      Feature deviation;
      deviation.hasTimestamp = true;
      deviation.timestamp = tone.timestamp;
      deviation.values.push_back(static_cast<float>(*target->deviation_cents));
      deviation.label = note_name(target->note.midi);
      features[TonePlugin::deviation].push_back(std::move(deviation));
    }
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
      pass.label = failure_message(failure.failure);
      features[failed_passes].push_back(pass);
    }
  }
  return features;
}

}  // namespace toneprint
