#pragma once

// toneprint as a Vamp plugin: the recording is analysed as the programs
// analyse it, its tones, harmonics and passes becoming features when the
// host asks for the remaining ones. The host's blocks, mixed to one
// channel, go to the analysis on a thread of its own as they arrive, so
// that memory stays bounded by the settings; the robust mode, which reads
// the recording twice, keeps the mix instead and analyses it at the end.
// With the partials parameter, each tone's partials at their own
// frequencies and its inharmonicity B are outputs of their own. Each
// measured tone's deviation from the nearest note of a tuning (a built-in
// temperament on a root, the A4 reference, a stretch) is one too. Expected
// notes (toneprint-batch's --expect) are left out: a host hands over one
// recording with neither a list of notes nor a file name to take them from.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <vamp-sdk/Plugin.h>

#include "toneprint/toneprint.h"
#include "vamp/host_samples.h"

namespace toneprint {

// A tone's inharmonicity as its feature's label: "B 4.1e-4 ± 0.2e-4", B to
// the uncertainty's first digit in one power of ten, or "B 4.12e-4,
// uncertainty unknown" when the uncertainty is NaN.
std::string inharmonicity_label(double b, double uncertainty);

class TonePlugin final : public Vamp::Plugin {
 public:
  explicit TonePlugin(float input_sample_rate);
  ~TonePlugin() override;
  TonePlugin(const TonePlugin&) = delete;
  TonePlugin& operator=(const TonePlugin&) = delete;

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
  enum Output : int {
    tones, harmonics, levels, passes, failed_passes, partials, inharmonicity, deviation
  };

  // The channels of a recording that the plugin mixes (their mean).
  static constexpr std::size_t max_channels = 256;
  // The most samples the robust mode keeps: 1 GiB of them, 93 minutes at
  // 48 kHz. A longer recording gets no features rather than exhausting
  // the host's memory.
  static constexpr std::uint64_t most_kept_samples = std::uint64_t{1} << 28;

 private:
  // Hands samples of the mix over to the analysis; false when they cannot
  // be taken.
  bool pass_on(std::span<const double> mix);
  // Hands over `count` silent samples.
  bool pass_on_silence(std::uint64_t count);
  // Starts the analysis of the fed samples on its own thread.
  void start_feed();
  // Ends the fed analysis: with `drop`, at once, without the samples still
  // held. Waits for its thread.
  void stop_feed(bool drop) noexcept;
  // The recording's analysis, once every sample is handed over; none when
  // it failed.
  std::optional<RecordingResult> finish();
  FeatureSet features(const RecordingResult& result) const;
  // The analysis's options as initialised.
  AnalysisOptions run_options() const;

  std::uint32_t sample_rate_;
  // Each setting's value in the order of setting_bounds (the FFT size as
  // its menu choice), then the A4 reference.
  std::array<double, setting_bounds.size() + 1> values_{};
  bool robust_ = false;
  bool partials_ = false;
  // The tuning's parameters: an index of built_in_temperaments, the pitch
  // class of its root (0 is C), the stretch in cents per octave.
  std::size_t temperament_ = 0;
  int root_ = 0;
  double stretch_ = 0.0;
  std::size_t channels_ = 0;
  std::size_t step_ = 0;
  std::size_t block_ = 0;
  AnalysisSettings settings_;
  RobustSettings robust_run_;  // the robust mode's changes as initialised
  bool partials_run_ = false;  // the partials parameter as initialised
  Tuning tuning_;              // the tuning as initialised
  std::uint64_t blocks_ = 0;  // process calls since initialise or reset
  // The first block's time: a host analysing a selection starts it there.
  Vamp::RealTime origin_ = Vamp::RealTime::zeroTime;
  std::uint64_t taken_ = 0;  // samples taken from the host's blocks
  // Silent samples at the end of those taken, not yet handed over: a host
  // pads the last block with zeros, which are not part of the recording.
  std::uint64_t silent_ = 0;
  std::vector<double> mix_;  // one block's mix
  // The analysis of the fed samples, on its own thread, and its result.
  std::unique_ptr<SampleFeed> feed_;
  std::thread worker_;
  RecordingResult fed_result_;
  std::atomic<bool> worker_failed_ = false;
  // The robust mode's samples.
  std::unique_ptr<KeptSamples> kept_;
  bool failed_ = false;    // the samples could not be handed over
  bool finished_ = false;  // the remaining features were given
};

}  // namespace toneprint
