// The tone loop on any recording that opens, with small settings so that
// each input takes milliseconds.

#include <algorithm>
#include <cmath>

#include "analysis/analysis_settings.h"
#include "classic/text_output.h"
#include "analysis/tone_analysis.h"
#include "classic/wave_analysis.h"
#include "analysis/tone_results.h"
#include "fuzz_support.h"
#include "readers/wave_source.h"
#include "riff/wave_file.h"

using namespace toneprint;

namespace {

constexpr std::uint32_t max_sample_rate = 384000;

class DiscardedText final : public TextOutput {
 public:
  void write(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* path = fuzz::write_input_file(data, size);
  WaveFile wave;
  if (!wave.open_read(path)) return 0;
  // Not only mono 16-bit: the program refuses other formats before the
  // analysis, but the loop must stand whatever the reader serves (a stereo
  // file's samples, or none at all when they are not 16-bit).
  // Rates above what any recorder writes are held to 384000 samples per
  // second: the whole-cycle frame search takes up to 0.01 x rate steps per
  // harmonic, seconds for a header that declares a rate near 2^32.
  AnalysisSettings settings;
  set_default_settings(settings, std::min(wave.sample_rate(), max_sample_rate));
  settings.fft_size = 2048;
  settings.fft_hop = 256;
  settings.min_tone_seconds = 0.05;
  settings.attack_seconds = 0.0;
  settings.silence_seconds = 0.01;
  settings.harmonic_count = 3;
  static std::FILE* const report = std::fopen("/dev/null", "w");
  FUZZ_CHECK(report != nullptr);
  DiscardedText console;
  analyse_tones(wave, settings, report, console);
  FUZZ_CHECK(wave.sample_position() <= static_cast<std::uint64_t>(wave.data_bytes()) / 2);

  // The robust mode on the same samples: checked votes, tones read again
  // back and forth over their tails, a consensus; and the partials of every
  // pass, summed up over each tone.
  WaveFile again;
  FUZZ_CHECK(again.open_read(path));
  WaveSource source(again, WaveEncoding{}, ChannelChoice::mix());
  ToneLoopModes robust;
  robust.settings.follow_tail = robust.settings.short_attack = robust.settings.check_vote =
      robust.settings.consensus = true;
  robust.noise_floor = 10.0;
  robust.partials = true;
  ToneCollector collector(true, settings.sample_rate);
  analyse_tones(source, settings, robust, collector);
  for (const ToneRecord& tone : collector.tones()) {
    FUZZ_CHECK(tone.start <= tone.end && tone.totals.pass_count <= tone.passes.size());
    if (!tone.partials) continue;
    FUZZ_CHECK(std::isfinite(tone.partials->frequency) && tone.partials->frequency > 0.0);
    for (const TonePartial& partial : tone.partials->partials) {
      FUZZ_CHECK(partial.below_noise != partial.amplitude.has_value());
      FUZZ_CHECK(!partial.amplitude || std::isfinite(*partial.amplitude));
    }
  }
  return 0;
}
