#pragma once

// toneprint as a Vamp plugin: the host's blocks are kept, and when it asks
// for the remaining features the whole recording is analysed as the
// programs analyse it, its tones, harmonics and passes becoming features.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <vamp-sdk/Plugin.h>

#include "analysis/analysis_settings.h"

namespace toneprint {

class TonePlugin final : public Vamp::Plugin {
 public:
  explicit TonePlugin(float input_sample_rate);

  std::string getIdentifier() const override { return "tones"; }
  std::string getName() const override { return "toneprint: tones and harmonics"; }
  std::string getDescription() const override;
  std::string getMaker() const override { return "toneprint"; }
  std::string getCopyright() const override;
  int getPluginVersion() const override;

  InputDomain getInputDomain() const override { return TimeDomain; }
  std::size_t getPreferredBlockSize() const override { return 4096; }
  std::size_t getMinChannelCount() const override { return 1; }
  std::size_t getMaxChannelCount() const override { return max_channels; }

  ParameterList getParameterDescriptors() const override;
  float getParameter(std::string identifier) const override;
  void setParameter(std::string identifier, float value) override;

  OutputList getOutputDescriptors() const override;

  bool initialise(std::size_t channels, std::size_t step_size, std::size_t block_size) override;
  void reset() override;
  FeatureSet process(const float* const* input, Vamp::RealTime timestamp) override;
  FeatureSet getRemainingFeatures() override;

  // The outputs, in the order getOutputDescriptors lists them.
  enum Output : int { tones, harmonics, levels, passes, failed_passes };

  // The channels of a recording that the plugin mixes (their mean).
  static constexpr std::size_t max_channels = 256;

 private:
  // The samples kept so far, interleaved, without the zeros a host pads
  // the last block with.
  std::size_t kept_frames() const;

  std::uint32_t sample_rate_;
  // Each setting's value in the order of setting_bounds (the FFT size as
  // its menu choice), then the A4 reference.
  std::array<double, setting_bounds.size() + 1> values_{};
  std::size_t channels_ = 0;
  std::size_t step_ = 0;
  std::size_t block_ = 0;
  AnalysisSettings settings_;
  std::vector<float> samples_;
  std::uint64_t blocks_ = 0;  // process calls since initialise or reset
  // The first block's time: a host analysing a selection starts it there.
  Vamp::RealTime origin_ = Vamp::RealTime::zeroTime;
  bool failed_ = false;       // the samples could not be kept
};

}  // namespace toneprint
