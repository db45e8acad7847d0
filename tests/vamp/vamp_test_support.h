#pragma once

// What the plugin's tests and the hosts' tests share: recordings, a host's
// loop over blocks, and the comparison of features with toneprint-batch's
// JSON. Included after the headers of one Vamp SDK (the plugin's or the
// host's; a file cannot have both).

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "readers/recording.h"
#include "support/test_support.h"

namespace toneprint::vamp_test {

using json = nlohmann::json;
using Channels = std::vector<std::vector<float>>;  // per channel

inline constexpr std::uint32_t rate = 44100;
inline const std::string demo = TONEPRINT_SOURCE_DIR "/demo/demo.wav";

// Three harmonic tones of 0.9 s, a blip too short for one pass, and a tone
// that runs to the recording's end.
inline std::vector<std::int16_t> synthetic(std::uint32_t sample_rate) {
  std::vector<std::int16_t> samples(sample_rate * 7, 0);
  const double fundamentals[] = {196.0, 311.1, 523.4};
  for (int i = 0; i < 3; ++i) {
    const test::ToneRecipe recipe{fundamentals[i], {{1, 9000, 0}, {2, 3000, 1}, {4, 1200, 2}}};
    const std::vector<double> tone = test::synthesise(recipe, sample_rate, sample_rate * 9 / 10);
    std::copy(tone.begin(), tone.end(), samples.begin() + i * sample_rate * 3 / 2);
  }
  const test::ToneRecipe blip{880.0, {{1, 8000, 0}}};
  const std::vector<double> short_tone = test::synthesise(blip, sample_rate, sample_rate * 35 / 100);
  std::copy(short_tone.begin(), short_tone.end(), samples.begin() + sample_rate * 44 / 10);
  const std::vector<double> last =
      test::synthesise({150.0, {{1, 7000, 0}, {3, 2000, 0}}}, sample_rate, sample_rate);
  std::copy(last.begin(), last.end(), samples.end() - sample_rate);
  return samples;
}

// A tone, and another that the recording cuts off within its attack skip:
// a block of zeros after it must not make a tone of it.
inline std::vector<std::int16_t> cut_off(std::uint32_t sample_rate) {
  std::vector<std::int16_t> samples(sample_rate * 17 / 10, 0);
  const std::vector<double> first =
      test::synthesise({220.0, {{1, 9000, 0}, {2, 2000, 0}}}, sample_rate, sample_rate);
  std::copy(first.begin(), first.end(), samples.begin());
  const std::vector<double> last =
      test::synthesise({330.0, {{1, 9000, 0}}}, sample_rate, sample_rate / 10);
  std::copy(last.begin(), last.end(), samples.end() - sample_rate / 10);
  return samples;
}

// A stiff string's C3, partial n at n F sqrt(1 + B n²) with B = 5e-4, of
// twelve partials but the seventh, each 3 dB below the one before, between
// silences.
inline std::vector<std::int16_t> stiff_string(std::uint32_t sample_rate) {
  std::vector<std::int16_t> samples(sample_rate * 3, 0);
  std::vector<double> tone(sample_rate * 2, 0.0);
  for (int n = 1; n <= 12; ++n) {
    if (n == 7) continue;
    const double frequency = n * 130.8128 * std::sqrt(1.0 + 5e-4 * n * n);
    const test::ToneRecipe partial{frequency, {{1, 9000.0 * std::pow(10.0, -0.15 * (n - 1)), 0.7 * n}}};
    const std::vector<double> values = test::synthesise(partial, sample_rate, tone.size(), false);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] += values[i];
  }
  for (std::size_t i = 0; i < tone.size(); ++i) {
    samples[sample_rate / 4 + i] = static_cast<std::int16_t>(std::lround(tone[i]));
  }
  return samples;
}

inline std::string stereo_wave(const std::vector<std::int16_t>& left,
                        const std::vector<std::int16_t>& right) {
  std::vector<std::int16_t> interleaved;
  for (std::size_t i = 0; i < left.size(); ++i) {
    interleaved.push_back(left[i]);
    interleaved.push_back(right[i]);
  }
  return test::riff("WAVE", test::fmt_chunk(2, rate) + test::chunk("data", test::pcm(interleaved)));
}

// A recording's channels as a host hands them over: floats in ±1.
inline Channels host_samples(const std::string& path) {
  Channels channels;
  std::string error;
  const std::unique_ptr<SampleSource> probe = open_recording(path, ChannelChoice::mix(), error);
  EXPECT_NE(probe, nullptr) << error;
  if (probe == nullptr) return channels;
  for (std::uint32_t c = 1; c <= probe->format().channels; ++c) {
    const std::unique_ptr<SampleSource> source = open_recording(path, {c}, error);
    std::vector<double> values(probe->format().frames);
    values.resize(source->read(values));
    std::vector<float>& channel = channels.emplace_back();
    for (const double v : values) channel.push_back(static_cast<float>(v / 32768.0));
  }
  return channels;
}

// A host's loop: blocks of `block` samples a step apart, the last one filled
// up with zeros, then the remaining features. The first block is stamped
// `first_frame` (a host analysing a selection that starts there).
template <typename RealTime, typename Plugin>
typename Plugin::FeatureSet run(Plugin& plugin, const Channels& channels, std::size_t block,
                                std::size_t step, long first_frame = 0) {
  EXPECT_TRUE(plugin.initialise(channels.size(), step, block));
  const std::size_t frames = channels[0].size();
  Channels buffers(channels.size(), std::vector<float>(block));
  std::vector<const float*> pointers;
  for (const auto& buffer : buffers) pointers.push_back(buffer.data());
  for (std::size_t first = 0; first < frames; first += step) {
    for (std::size_t c = 0; c < channels.size(); ++c) {
      for (std::size_t i = 0; i < block; ++i) {
        buffers[c][i] = first + i < frames ? channels[c][first + i] : 0.0f;
      }
    }
    plugin.process(pointers.data(),
                   RealTime::frame2RealTime(first_frame + static_cast<long>(first), rate));
  }
  return plugin.getRemainingFeatures();
}

inline json batch_json(const test::TempDir& dir, const std::string& recording,
                const std::string& arguments = "") {
  const std::string out = dir.file("out.json");
  std::filesystem::remove(out);
  const test::ProgramRun run =
      test::run_program(TONEPRINT_BATCH_BINARY, "-q -f json -o " + out + " " + arguments + " " +
                                                    recording,
                        dir.write("input", ""), dir.file("console"));
  EXPECT_EQ(run.status, 0) << run.console;
  return json::parse(test::read_file(out))["recordings"][0];
}

template <typename RealTime>
long frame_of(const RealTime& time) {
  return RealTime::realTime2Frame(time, rate);
}

// The plugin's features equal the batch program's numbers, to the float
// the plugin hands out: every tone's start, length and frequency, every
// harmonic, and every pass's time and fundamental, the times `first_frame`
// later when the host's first block was stamped there.
// The outputs' indices.
struct OutputIndices {
  int tones, harmonics, passes;
};

// The label of a measured tone or pass: "A4 +1.3 c", "C4 0.0 c".
inline std::string note_label(const std::string& note, double cents) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.1f c", cents);
  const std::string shown = text;
  return note + " " + (shown == "+0.0 c" || shown == "-0.0 c" ? "0.0 c" : shown);
}

template <typename FeatureSet>
void expect_same_as_batch(const FeatureSet& features, OutputIndices outputs, const json& batch,
                          long first_frame = 0) {
  const json& tones = batch["tones"];
  const auto list = [&](int output) {
    const auto found = features.find(output);
    return found == features.end() ? typename FeatureSet::mapped_type{} : found->second;
  };
  const auto tone_features = list(outputs.tones);
  const auto harmonic_features = list(outputs.harmonics);
  const auto pass_features = list(outputs.passes);
  ASSERT_EQ(tone_features.size(), tones.size());
  std::size_t measured = 0;
  std::size_t pass = 0;
  for (std::size_t t = 0; t < tones.size(); ++t) {
    SCOPED_TRACE(std::string("tone ").append(std::to_string(t + 1)));
    const json& tone = tones[t];
    const auto& feature = tone_features[t];
    EXPECT_EQ(frame_of(feature.timestamp), first_frame + tone["start_sample"].get<long>());
    EXPECT_EQ(frame_of(feature.timestamp + feature.duration),
              first_frame + tone["end_sample"].get<long>());
    if (tone["passes_used"].get<int>() == 0) {
      EXPECT_TRUE(feature.values.empty());
      EXPECT_EQ(feature.label, tone["failed"].empty() ? "too short" : "no pitch");
      continue;
    }
    ASSERT_EQ(feature.values.size(), 1u);
    EXPECT_EQ(feature.values[0], tone["frequency_hz"].get<float>());
    EXPECT_EQ(feature.label, note_label(tone["note"], tone["cents"]));
    ASSERT_LT(measured, harmonic_features.size());
    const auto& amplitudes = harmonic_features[measured++].values;
    ASSERT_EQ(amplitudes.size(), tone["harmonics"].size());
    for (std::size_t k = 0; k < amplitudes.size(); ++k) {
      if (tone["harmonics"][k].is_null()) {
        EXPECT_TRUE(std::isnan(amplitudes[k])) << "h" << k;
      } else {
        EXPECT_EQ(amplitudes[k], tone["harmonics"][k].get<float>()) << "h" << k;
      }
    }
    for (const json& measured_pass : tone["measured"]) {
      ASSERT_LT(pass, pass_features.size());
      const auto& feature_pass = pass_features[pass++];
      EXPECT_EQ(frame_of(feature_pass.timestamp),
                first_frame + std::lround(measured_pass["time_s"].get<double>() * rate));
      EXPECT_EQ(feature_pass.values.at(0), measured_pass["fundamental_hz"].get<float>());
    }
  }
  EXPECT_EQ(measured, harmonic_features.size());
  EXPECT_EQ(pass, pass_features.size());
}

}  // namespace toneprint::vamp_test
