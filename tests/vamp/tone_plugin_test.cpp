// The Vamp plugin class: its parameters against the analysis's settings,
// its refusals, and its features against toneprint-batch's JSON on the same
// recordings, fed by a host loop of our own.

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>

#include "analysis/analysis_settings.h"
#include "vamp/tone_plugin.h"
// After the plugin SDK's headers.
#include "vamp/vamp_test_support.h"

// Every allocation of this test program passes through here, so that a
// test can measure the heap at its peak, over every thread, and make every
// allocation fail from a given one on.
namespace heap {
std::atomic<bool> counting = false;
std::atomic<long long> live = 0;
std::atomic<long long> peak = 0;
std::atomic<long long> made = 0;
std::atomic<bool> limited = false;
std::atomic<long long> left = 0;  // allocations that may still succeed

void* counted(void* block) {
  if (block == nullptr) throw std::bad_alloc();
  if (counting) {
    const long long now = live += static_cast<long long>(malloc_usable_size(block));
    for (long long was = peak; now > was && !peak.compare_exchange_weak(was, now);) {
    }
  }
  return block;
}
void release(void* block) noexcept {
  if (block != nullptr && counting) live -= static_cast<long long>(malloc_usable_size(block));
  std::free(block);
}
}  // namespace heap

void* operator new(std::size_t size) {
  ++heap::made;
  if (heap::limited && heap::left-- <= 0) throw std::bad_alloc();
  return heap::counted(std::malloc(size > 0 ? size : 1));
}
void* operator new(std::size_t size, std::align_val_t align) {
  ++heap::made;
  if (heap::limited && heap::left-- <= 0) throw std::bad_alloc();
  const auto alignment = static_cast<std::size_t>(align);
  return heap::counted(std::aligned_alloc(alignment, (size + alignment) / alignment * alignment));
}
// Every other form too, so that no block is made by one allocator and freed
// by another (the sanitizers' operator new is not malloc).
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, std::align_val_t align) { return operator new(size, align); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept {
  return operator new(size, nothrow);
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  try {
    return operator new(size, align);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t& nothrow) noexcept {
  return operator new(size, align, nothrow);
}
void operator delete(void* block) noexcept { heap::release(block); }
void operator delete(void* block, std::size_t) noexcept { heap::release(block); }
void operator delete(void* block, std::align_val_t) noexcept { heap::release(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { heap::release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { heap::release(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { heap::release(block); }
void operator delete[](void* block) noexcept { heap::release(block); }
void operator delete[](void* block, std::size_t) noexcept { heap::release(block); }
void operator delete[](void* block, std::align_val_t) noexcept { heap::release(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { heap::release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { heap::release(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { heap::release(block); }

namespace toneprint {
namespace {

using namespace vamp_test;
constexpr OutputIndices indices{TonePlugin::tones, TonePlugin::harmonics, TonePlugin::passes};

// ------------------------------------------------------------- parameters

// Every analysis setting is a parameter under the programs' name, with the
// dialogue's bounds and the default for the host's sample rate; then the A4
// reference, the robust mode and the partials, each off or on, and the
// tuning (below).
TEST(VampPlugin, EverySettingIsAParameterWithItsBoundsAndDefault) {
  for (const float host_rate : {8000.0f, 22050.0f, 44100.0f, 96000.0f}) {
    SCOPED_TRACE(host_rate);
    const TonePlugin plugin(host_rate);
    const auto parameters = plugin.getParameterDescriptors();
    ASSERT_EQ(parameters.size(), setting_bounds.size() + 6);
    AnalysisSettings defaults;
    set_default_settings(defaults, static_cast<std::uint32_t>(host_rate));
    for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
      const auto& p = parameters[i];
      const SettingRange range = setting_range(setting_bounds[i], defaults);
      EXPECT_EQ(p.identifier, setting_names[i].name);
      EXPECT_EQ(p.isQuantized, setting_bounds[i].kind == SettingKind::whole) << p.identifier;
      if (p.isQuantized) {
        EXPECT_EQ(p.quantizeStep, 1.0f) << p.identifier;  // whole numbers
      }
      EXPECT_EQ(plugin.getParameter(p.identifier), p.defaultValue) << p.identifier;
      if (setting_bounds[i].setting == Setting::fft_size) {
        // A menu of the sizes, from 1.
        EXPECT_EQ(p.minValue, 1.0f);
        EXPECT_EQ(p.maxValue, 4.0f);
        EXPECT_EQ(p.valueNames, (std::vector<std::string>{"2048", "4096", "8192", "16384"}));
        EXPECT_EQ(p.valueNames.at(static_cast<std::size_t>(p.defaultValue - p.minValue)),
                  std::to_string(defaults.fft_size));
        continue;
      }
      EXPECT_EQ(p.minValue, static_cast<float>(range.minimum)) << p.identifier;
      EXPECT_EQ(p.defaultValue, static_cast<float>(range.default_value)) << p.identifier;
      if (setting_bounds[i].setting == Setting::fft_hop) {
        EXPECT_EQ(p.maxValue, 16384.0f);
      } else {
        EXPECT_EQ(p.maxValue, static_cast<float>(range.maximum)) << p.identifier;
      }
    }
    const auto& a4 = parameters[setting_bounds.size()];
    EXPECT_EQ(a4.identifier, "a4");
    EXPECT_EQ(a4.defaultValue, 440.0f);
    EXPECT_EQ(a4.unit, "Hz");
    for (std::size_t i : {setting_bounds.size() + 1, setting_bounds.size() + 2}) {
      const auto& mode = parameters[i];
      EXPECT_EQ(mode.identifier, i == setting_bounds.size() + 1 ? "robust" : "partials");
      EXPECT_EQ(mode.defaultValue, 0.0f);
      EXPECT_EQ(plugin.getParameter(mode.identifier), 0.0f);
      EXPECT_TRUE(mode.isQuantized);
      EXPECT_EQ(mode.quantizeStep, 1.0f);
      EXPECT_EQ(mode.valueNames, (std::vector<std::string>{"off", "on"}));
    }
  }
}

// The tuning of the Deviation output: menus of the built-in temperaments
// and of the root's pitch classes, and the stretch, with toneprint-batch's
// defaults and bounds.
TEST(VampPlugin, TheTuningIsAParameterOfEachTarget) {
  struct Expected {
    const char* identifier;
    const char* unit;
    float minimum, maximum, default_value;
    bool quantized;
    std::vector<std::string> names;
  };
  const Expected expected[] = {
      {"temperament", "", 0, 8, 0, true,
       {"equal", "pythagorean", "quarter-comma-meantone", "sixth-comma-meantone",
        "werckmeister-iii", "kirnberger-iii", "vallotti", "young", "just"}},
      {"temperament-root", "", 0, 11, 0, true,
       {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"}},
      {"stretch", "cents/octave", -50, 50, 0, false, {}},
  };
  const TonePlugin plugin(44100.0f);
  const auto parameters = plugin.getParameterDescriptors();
  ASSERT_EQ(parameters.size(), setting_bounds.size() + 3 + std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const Expected& e = expected[i];
    const auto& p = parameters[setting_bounds.size() + 3 + i];
    EXPECT_EQ(p.identifier, e.identifier);
    EXPECT_EQ(p.unit, e.unit) << e.identifier;
    EXPECT_EQ(p.minValue, e.minimum) << e.identifier;
    EXPECT_EQ(p.maxValue, e.maximum) << e.identifier;
    EXPECT_EQ(p.defaultValue, e.default_value) << e.identifier;
    EXPECT_EQ(plugin.getParameter(e.identifier), e.default_value) << e.identifier;
    EXPECT_EQ(p.isQuantized, e.quantized) << e.identifier;
    if (e.quantized) {
      EXPECT_EQ(p.quantizeStep, 1.0f) << e.identifier;
    }
    EXPECT_EQ(p.valueNames, e.names) << e.identifier;
    EXPECT_FALSE(p.name.empty() || p.description.empty()) << e.identifier;
  }
}

// A host may set any float: out of bounds it is held to them, a whole
// setting takes the nearest whole number, NaN and unknown names change
// nothing.
TEST(VampPlugin, ParameterValuesAreHeldToTheirBounds) {
  struct Case {
    const char* identifier;
    float value;
    float expected;
  };
  const Case cases[] = {
      {"harmonics", 99.0f, 50.0f},        {"harmonics", -3.0f, 0.0f},
      {"harmonics", 3.9999998f, 4.0f},    {"fft-size", 2.6f, 3.0f},
      {"hop", 1e9f, 16384.0f},            {"min-tone", 0.001f, 0.05f},
      {"threshold", 250.5f, 250.5f},      {"a4", 2000.0f, 1000.0f},
      {"a4", 415.0f, 415.0f},             {"peaks", std::nanf(""), 5.0f},
      {"robust", 0.7f, 1.0f},             {"robust", 0.2f, 0.0f},
      {"partials", 0.7f, 1.0f},           {"partials", 0.2f, 0.0f},
      {"temperament", 4.4f, 4.0f},        {"temperament", 99.0f, 8.0f},
      {"temperament", -1.0f, 0.0f},       {"temperament-root", 11.6f, 11.0f},
      {"temperament-root", -3.0f, 0.0f},  {"stretch", 60.0f, 50.0f},
      {"stretch", -60.0f, -50.0f},        {"stretch", 1.5f, 1.5f},
  };
  for (const Case& c : cases) {
    TonePlugin plugin(44100.0f);
    plugin.setParameter(c.identifier, c.value);
    plugin.setParameter("no-such-setting", 1.0f);
    EXPECT_EQ(plugin.getParameter(c.identifier), c.expected) << c.identifier << " " << c.value;
  }
}

// What the plugin refuses to start with.
TEST(VampPlugin, InitialiseRefusesWhatItCannotAnalyse) {
  struct Case {
    const char* what;
    float host_rate;
    std::size_t channels, step, block;
    float hop;  // 0: the default
    bool accepted;
  };
  const Case cases[] = {
      {"mono", 44100.0f, 1, 1024, 1024, 0, true},
      {"overlapping blocks", 44100.0f, 2, 512, 1024, 0, true},
      {"the host's default step", 44100.0f, 1, 0, 1000, 0, true},
      {"a hop as long as the FFT", 44100.0f, 1, 1024, 1024, 8192, true},
      {"no channel", 44100.0f, 0, 1024, 1024, 0, false},
      {"too many channels", 44100.0f, 257, 1024, 1024, 0, false},
      {"a step past the block", 44100.0f, 1, 2048, 1024, 0, false},
      {"an empty block", 44100.0f, 1, 0, 0, 0, false},
      {"a hop longer than the FFT", 44100.0f, 1, 1024, 1024, 8193, false},
      {"no sample rate", 0.0f, 1, 1024, 1024, 0, false},
  };
  for (const Case& c : cases) {
    TonePlugin plugin(c.host_rate);
    if (c.hop > 0) plugin.setParameter("hop", c.hop);
    EXPECT_EQ(plugin.initialise(c.channels, c.step, c.block), c.accepted) << c.what;
  }
}

// --------------------------------------------------------------- features

// The partials and inharmonicity outputs hold toneprint-batch's --partials
// JSON: a feature per tone with a summary (with a B), at the tone's time and
// for its duration, each partial's frequency or NaN where the JSON has none
// or the partial is below the noise; none at all without --partials.
void expect_partials_as_batch(const Vamp::Plugin::FeatureSet& features, const json& batch,
                              long first_frame) {
  const auto list = [&](int output) {
    const auto found = features.find(output);
    return found == features.end() ? Vamp::Plugin::FeatureList{} : found->second;
  };
  const Vamp::Plugin::FeatureList partial_features = list(TonePlugin::partials);
  const Vamp::Plugin::FeatureList b_features = list(TonePlugin::inharmonicity);
  const std::size_t bins = batch["settings"]["harmonics"].get<std::size_t>() + 1;
  const auto expect_at_tone = [&](const Vamp::Plugin::Feature& feature, const json& tone) {
    EXPECT_EQ(frame_of(feature.timestamp), first_frame + tone["start_sample"].get<long>());
    EXPECT_EQ(frame_of(feature.timestamp + feature.duration),
              first_frame + tone["end_sample"].get<long>());
  };
  std::size_t with_partials = 0;
  std::size_t with_b = 0;
  for (const json& tone : batch["tones"]) {
    if (tone.value("partials", json()).is_null()) continue;
    ASSERT_LT(with_partials, partial_features.size());
    const Vamp::Plugin::Feature& feature = partial_features[with_partials++];
    expect_at_tone(feature, tone);
    std::vector<float> expected(bins, std::nanf(""));
    for (const json& p : tone["partials"]) {
      if (!p["below_noise"].get<bool>() && !p["frequency_hz"].is_null()) {
        expected.at(p["number"].get<std::size_t>() - 1) = p["frequency_hz"].get<float>();
      }
    }
    ASSERT_EQ(feature.values.size(), bins);
    for (std::size_t k = 0; k < bins; ++k) {
      if (std::isnan(expected[k])) {
        EXPECT_TRUE(std::isnan(feature.values[k])) << "p" << k + 1;
      } else {
        EXPECT_EQ(feature.values[k], expected[k]) << "p" << k + 1;
      }
    }
    const json& b = tone["inharmonicity"];
    if (b.is_null()) continue;
    ASSERT_LT(with_b, b_features.size());
    const Vamp::Plugin::Feature& stiffness = b_features[with_b++];
    expect_at_tone(stiffness, tone);
    EXPECT_EQ(stiffness.values, std::vector<float>{b["b"].get<float>()});
    const json& error = b["b_uncertainty"];
    EXPECT_EQ(stiffness.label, inharmonicity_label(b["b"].get<double>(),
                                                   error.is_null() ? NAN : error.get<double>()));
  }
  EXPECT_EQ(with_partials, partial_features.size());
  EXPECT_EQ(with_b, b_features.size());
}

// The plugin class in our own host loop, with blocks that divide the
// recording or not, overlap or not, with settings of the user's, and on a
// selection that starts later than the recording (features as much later).
TEST(VampPlugin, GivesTheBatchProgramsTonesWhateverTheBlocks) {
  const test::TempDir dir;
  const std::string synthetic_path = dir.write("synthetic.wav", test::wave(synthetic(rate), rate));
  const std::string cut_off_path = dir.write("cut-off.wav", test::wave(cut_off(rate), rate));
  const std::string stiff_path = dir.write("stiff.wav", test::wave(stiff_string(rate), rate));
  struct Case {
    std::string recording;
    std::size_t block, step;
    std::map<std::string, float> parameters;
    std::string arguments;  // the same for toneprint-batch
    long selection = 0;     // the first block's frame
  };
  const Case cases[] = {
      {demo, 4096, 4096, {}, ""},
      {demo, 1000, 1000, {}, ""},
      {demo, 1024, 256, {}, ""},
      {synthetic_path, 4096, 4096, {}, ""},
      {synthetic_path, 333, 333, {}, ""},
      {synthetic_path, 2048, 1024, {}, ""},
      {cut_off_path, 16384, 16384, {}, ""},
      {cut_off_path, 16384, 4096, {}, ""},
      {synthetic_path, 2048, 512, {}, "", 123457},
      {demo, 4096, 4096, {}, "", 44100L * 3600 * 2},
      // Typed values a float cannot hold: taken as typed, as the program does.
      {synthetic_path, 4096, 4096,
       {{"harmonics", 3}, {"min-tone", 0.3f}, {"attack", 0.07f}, {"silence", 0.3f},
        {"threshold", 1234.5f}, {"max-extra", 0.01f}, {"fft-size", 2}, {"hop", 700}},
       "--harmonics 3 --min-tone 0.3 --attack 0.07 --silence 0.3 --threshold 1234.5 "
       "--max-extra 0.01 --fft-size 4096 --hop 700"},
      {demo, 4096, 4096, {{"harmonics", 50}, {"a4", 415}}, "--harmonics 50 --a4 415"},
      // The robust mode, which reads the recording twice.
      {demo, 4096, 4096, {{"robust", 1}}, "--robust"},
      {synthetic_path, 2048, 512, {{"robust", 1}}, "--robust", 4410},
      // The partials, streamed and kept.
      {stiff_path, 1000, 1000, {{"partials", 1}, {"harmonics", 11}}, "--partials --harmonics 11"},
      {synthetic_path, 2048, 512, {{"partials", 1}}, "--partials", 4410},
      {demo, 4096, 4096, {{"partials", 1}, {"robust", 1}}, "--partials --robust"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recording + " block " + std::to_string(c.block) + " step " +
                 std::to_string(c.step) + " " + c.arguments + " from " +
                 std::to_string(c.selection));
    TonePlugin plugin(static_cast<float>(rate));
    for (const auto& [name, value] : c.parameters) plugin.setParameter(name, value);
    const auto features =
        run<Vamp::RealTime>(plugin, host_samples(c.recording), c.block, c.step, c.selection);
    const json batch = batch_json(dir, c.recording, c.arguments);
    expect_same_as_batch(features, indices, batch, c.selection);
    expect_partials_as_batch(features, batch, c.selection);
    EXPECT_EQ(features.count(TonePlugin::partials) == 1, c.parameters.contains("partials"));
  }
}

// A stereo recording is analysed as the mean of its channels, as the batch
// program does by default; a reset starts afresh.
TEST(VampPlugin, MixesChannelsAsTheBatchProgramAndStartsAfreshAfterReset) {
  const test::TempDir dir;
  std::vector<std::int16_t> right = synthetic(rate);
  std::rotate(right.begin(), right.begin() + 1234, right.end());
  for (auto& v : right) v = static_cast<std::int16_t>(v / 3);
  const std::string path = dir.write("stereo.wav", stereo_wave(synthetic(rate), right));
  TonePlugin plugin(static_cast<float>(rate));
  const Channels channels = host_samples(path);
  ASSERT_EQ(channels.size(), 2u);
  run<Vamp::RealTime>(plugin, channels, 4096, 4096);
  const auto again = run<Vamp::RealTime>(plugin, channels, 4096, 4096);
  expect_same_as_batch(again, indices, batch_json(dir, path));
}

// The outputs as sessions and scripts name them ("toneprint:tones:passes"),
// with the units and durations that decide how hosts draw them.
TEST(VampPlugin, OutputsKeepTheirIdentifiersUnitsAndShapes) {
  struct Expected {
    int index;
    const char* identifier;
    const char* unit;
    std::size_t bins;
    bool duration;
  };
  const Expected expected[] = {
      {TonePlugin::tones, "tones", "Hz", 1, true},
      {TonePlugin::harmonics, "harmonics", "", 11, true},
      {TonePlugin::levels, "levels", "dB", 11, true},
      {TonePlugin::passes, "passes", "Hz", 1, false},
      {TonePlugin::failed_passes, "failed", "", 0, false},
      {TonePlugin::partials, "partials", "Hz", 11, true},
      {TonePlugin::inharmonicity, "inharmonicity", "", 1, true},
      {TonePlugin::deviation, "deviation", "cents", 1, false},
  };
  const TonePlugin plugin(static_cast<float>(rate));
  const auto outputs = plugin.getOutputDescriptors();
  ASSERT_EQ(outputs.size(), std::size(expected));
  for (const Expected& e : expected) {
    const auto& output = outputs.at(static_cast<std::size_t>(e.index));
    EXPECT_EQ(output.identifier, e.identifier);
    EXPECT_EQ(output.unit, e.unit) << e.identifier;
    EXPECT_EQ(output.binCount, e.bins) << e.identifier;
    EXPECT_TRUE(output.hasFixedBinCount) << e.identifier;
    EXPECT_EQ(output.hasDuration, e.duration) << e.identifier;
    EXPECT_EQ(output.sampleType, Vamp::Plugin::OutputDescriptor::VariableSampleRate) << e.identifier;
    EXPECT_FALSE(output.name.empty() || output.description.empty()) << e.identifier;
  }
}

// The partials are off unless asked for: a stiff string gives no partials
// and no B, and the tones are those of toneprint-batch without --partials.
TEST(VampPlugin, PartialsAreOffByDefault) {
  const test::TempDir dir;
  const std::string path = dir.write("stiff.wav", test::wave(stiff_string(rate), rate));
  TonePlugin plugin(static_cast<float>(rate));
  EXPECT_EQ(plugin.getParameter("partials"), 0.0f);
  const auto features = run<Vamp::RealTime>(plugin, host_samples(path), 4096, 4096);
  EXPECT_EQ(features.count(TonePlugin::partials), 0u);
  EXPECT_EQ(features.count(TonePlugin::inharmonicity), 0u);
  expect_same_as_batch(features, indices, batch_json(dir, path));
}

// B is shown to its uncertainty's first digit, in one power of ten; an
// uncertainty too small for three decimals of it on its own.
TEST(VampPlugin, InharmonicityLabelsShowBToItsUncertainty) {
  const struct {
    double b, uncertainty;
    const char* label;
  } cases[] = {
      {4.1e-4, 0.2e-4, "B 4.1e-4 \u00b1 0.2e-4"},
      {5.00003e-4, 2.8e-9, "B 5.000e-4 \u00b1 3e-9"},
      {-8.53e-9, 8.42e-9, "B -8.5e-9 \u00b1 8.4e-9"},
      {-1.43e-10, 7.47e-11, "B -1.4e-10 \u00b1 0.7e-10"},
      {9.96e-4, 0.2e-4, "B 1.00e-3 \u00b1 0.02e-3"},
      {1.234e-3, 4.2e-6, "B 1.234e-3 \u00b1 0.004e-3"},
      {2.07e-9, 0.0, "B 2.070e-9 \u00b1 0"},
      {1.234e-3, NAN, "B 1.23e-3, uncertainty unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(inharmonicity_label(c.b, c.uncertainty), c.label);
}

// Each measured tone's deviation from the nearest note of the tuning, at
// the tone's start: equal-tempered C4, F4, Bb3 and E4 (A4 = 440 Hz) against
// Werckmeister III on C, whose published cents above C are C 0, E 390.225,
// F 498.045, A 888.270 and Bb 996.090 (Barbour), so that a note's deviation
// is its equal-tempered cents from A less Werckmeister's; a stretch of s
// cents per octave raises a target s (key - 69) / 12 cents.
TEST(VampPlugin, DeviationIsFromTheTemperamentsNearestNote) {
  struct Note {
    double hz;
    int key;  // MIDI
    const char* label;
    double werckmeister_cents;  // above C4
  };
  const Note notes[] = {{261.6255653005986, 60, "C4", 0.0},
                        {349.2282314330039, 65, "F4", 498.045},
                        {233.0818807590449, 58, "A#3", 996.090 - 1200.0},
                        {329.6275569128699, 64, "E4", 390.225}};
  constexpr double werckmeister_a = 888.270;
  std::vector<std::int16_t> samples(rate * 6, 0);
  for (std::size_t i = 0; i < std::size(notes); ++i) {
    const std::vector<double> tone =
        test::synthesise({notes[i].hz, {{1, 9000, 0}, {2, 3000, 1}}}, rate, rate * 9 / 10);
    std::copy(tone.begin(), tone.end(), samples.begin() + static_cast<long>(i * rate * 3 / 2));
  }
  const test::TempDir dir;
  const std::string path = dir.write("equal.wav", test::wave(samples, rate));

  struct Case {
    float temperament;  // the menu's index: 0 equal, 4 werckmeister-iii
    float stretch;
  };
  for (const Case c : {Case{0, 0}, Case{4, 0}, Case{4, 6}}) {
    SCOPED_TRACE(testing::Message() << c.temperament << " " << c.stretch);
    TonePlugin plugin(static_cast<float>(rate));
    plugin.setParameter("temperament", c.temperament);
    plugin.setParameter("stretch", c.stretch);
    auto features = run<Vamp::RealTime>(plugin, host_samples(path), 4096, 4096);
    const Vamp::Plugin::FeatureList& deviations = features[TonePlugin::deviation];
    const Vamp::Plugin::FeatureList& tones = features[TonePlugin::tones];
    ASSERT_EQ(deviations.size(), std::size(notes));
    ASSERT_EQ(tones.size(), std::size(notes));
    for (std::size_t i = 0; i < std::size(notes); ++i) {
      const Note& n = notes[i];
      const double equal = 100.0 * (n.key - 69);
      const double target = (c.temperament == 0 ? equal : n.werckmeister_cents - werckmeister_a) +
                            c.stretch * (n.key - 69) / 12.0;
      ASSERT_EQ(deviations[i].values.size(), 1u);
      EXPECT_NEAR(deviations[i].values[0], equal - target, 0.02) << n.label;
      EXPECT_EQ(deviations[i].label, n.label);
      EXPECT_EQ(deviations[i].timestamp, tones[i].timestamp) << n.label;
    }
  }
}

// A tone too short for one pass appears with no value and says why; the
// harmonics output names its bins and gives one feature per measured tone.
TEST(VampPlugin, ShortTonesHaveNoValueAndHarmonicsAreNamed) {
  const test::TempDir dir;
  TonePlugin plugin(static_cast<float>(rate));
  plugin.setParameter("harmonics", 4);
  const std::string path = dir.write("synthetic.wav", test::wave(synthetic(rate), rate));
  const auto features = run<Vamp::RealTime>(plugin, host_samples(path), 4096, 4096);
  const auto& tones = features.at(TonePlugin::tones);
  ASSERT_EQ(tones.size(), 5u);
  EXPECT_TRUE(tones[3].values.empty());
  EXPECT_EQ(tones[3].label, "too short");
  EXPECT_EQ(features.at(TonePlugin::harmonics).size(), 4u);
  EXPECT_EQ(plugin.getOutputDescriptors()[TonePlugin::harmonics].binNames,
            (std::vector<std::string>{"h0", "h1", "h2", "h3", "h4"}));
  EXPECT_EQ(plugin.getOutputDescriptors()[TonePlugin::partials].binNames,
            (std::vector<std::string>{"p1", "p2", "p3", "p4", "p5"}));
  // The levels are the harmonics in dB of the fundamental.
  const auto& amplitudes = features.at(TonePlugin::harmonics)[0].values;
  const auto& levels = features.at(TonePlugin::levels)[0].values;
  for (std::size_t k = 0; k < amplitudes.size(); ++k) {
    EXPECT_NEAR(levels[k], 20.0 * std::log10(amplitudes[k] / amplitudes[0]), 1e-4) << k;
  }
  // The first tone's second partial (h1) is 3000/9000 of its fundamental.
  EXPECT_NEAR(levels[1], 20.0 * std::log10(3000.0 / 9000.0), 0.05);
  // Each pass is labelled with its note and cents from equal temperament at
  // A 440: 196.0 Hz is G3 +0.02 c, 311.1 Hz is D#4 -0.15 c, 523.4 Hz is C5
  // +0.49 c, 150 Hz is D3 +36.95 c.
  const struct {
    const char* note;
    double cents;
  } truths[] = {{"G3", 0.02}, {"D#4", -0.15}, {"C5", 0.49}, {"D3", 36.95}};
  std::size_t labelled = 0;
  for (const Vamp::Plugin::Feature& pass : features.at(TonePlugin::passes)) {
    ASSERT_EQ(pass.values.size(), 1u);
    const double hz = pass.values[0];
    const std::size_t tone = hz < 170 ? 3 : hz < 250 ? 0 : hz < 400 ? 1 : 2;
    const std::string prefix = std::string(truths[tone].note) + " ";
    ASSERT_EQ(pass.label.rfind(prefix, 0), 0u) << pass.label;
    ASSERT_TRUE(pass.label.ends_with(" c")) << pass.label;
    EXPECT_NEAR(std::stod(pass.label.substr(prefix.size())), truths[tone].cents, 0.15)
        << pass.label;
    ++labelled;
  }
  EXPECT_GE(labelled, 4u);
}

// ----------------------------------------------------------------- memory

// Ten minutes of stereo, a tone every 20 s: 212 MB as the host's floats,
// 106 MB as their mix, but the plugin's heap stays within what its settings
// need, whatever the recording's length.
TEST(VampPlugin, HeapIsBoundedBySettingsNotByTheRecordingsLength) {
  constexpr std::size_t block = 4096;
  constexpr std::size_t frames = std::size_t{rate} * 600;
  constexpr std::size_t every = std::size_t{rate} * 20;
  const std::vector<double> tone =
      test::synthesise({261.6, {{1, 9000, 0}, {3, 2000, 1}}}, rate, rate);
  TonePlugin plugin(static_cast<float>(rate));
  ASSERT_TRUE(plugin.initialise(2, block, block));
  Channels buffers(2, std::vector<float>(block));
  const float* const pointers[] = {buffers[0].data(), buffers[1].data()};
  heap::live = heap::peak = 0;
  heap::counting = true;
  for (std::size_t first = 0; first < frames; first += block) {
    for (std::size_t i = 0; i < block; ++i) {
      const std::size_t at = (first + i) % every;
      buffers[0][i] = at < tone.size() ? static_cast<float>(tone[at] / 32768.0) : 0.0f;
      buffers[1][i] = buffers[0][i] / 2;
    }
    plugin.process(pointers, Vamp::RealTime::frame2RealTime(static_cast<long>(first), rate));
  }
  const auto features = plugin.getRemainingFeatures();
  heap::counting = false;
  EXPECT_EQ(features.at(TonePlugin::harmonics).size(), frames / every);
  EXPECT_LT(heap::peak, 32 << 20);
}

// Allocations that fail from any point of a run on: the plugin gives all
// of its features or none, says so, and nothing leaves it (nor its
// analysis's thread, which would end the host).
TEST(VampPlugin, FailingAllocationsGiveNoFeaturesAndNothingLeavesThePlugin) {
  const test::TempDir dir;
  const std::string path = dir.write("synthetic.wav", test::wave(synthetic(rate), rate));
  const Channels channels = host_samples(path);
  constexpr std::size_t block = 8192;
  const auto one_run = [&](long long allocations, bool& escaped) {
    TonePlugin plugin(static_cast<float>(rate));
    EXPECT_TRUE(plugin.initialise(1, block, block));
    std::vector<float> buffer(block);
    const float* const pointers[] = {buffer.data()};
    TonePlugin::FeatureSet features;
    heap::left = allocations;
    heap::limited = allocations >= 0;
    try {
      for (std::size_t first = 0; first < channels[0].size(); first += block) {
        for (std::size_t i = 0; i < block; ++i) {
          buffer[i] = first + i < channels[0].size() ? channels[0][first + i] : 0.0f;
        }
        plugin.process(pointers, Vamp::RealTime::frame2RealTime(static_cast<long>(first), rate));
      }
      features = plugin.getRemainingFeatures();
    } catch (...) {
      escaped = true;
    }
    heap::limited = false;
    return features;
  };
  bool escaped = false;
  const long long before = heap::made;
  const auto all = one_run(-1, escaped);
  const long long allocations = heap::made - before;
  ASSERT_EQ(all.at(TonePlugin::tones).size(), 5u);
  for (long long n = 0; n < allocations; ++n) {
    SCOPED_TRACE(n);
    testing::internal::CaptureStderr();
    const auto features = one_run(n, escaped);
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(escaped);
    if (features.empty()) {
      EXPECT_NE(console.find("no tones reported"), std::string::npos) << console;
      continue;
    }
    ASSERT_EQ(features.size(), all.size());
    for (const auto& [output, list] : all) {
      ASSERT_EQ(features.at(output).size(), list.size()) << output;
      for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(features.at(output)[i].timestamp, list[i].timestamp) << output << " " << i;
        EXPECT_EQ(features.at(output)[i].values, list[i].values) << output << " " << i;
      }
    }
  }
}

}  // namespace
}  // namespace toneprint
