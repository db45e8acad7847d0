#include "classic/wave_analysis.h"

#include "analysis/tone_analysis.h"
#include "classic/classic_report.h"
#include "readers/wave_source.h"

namespace toneprint {

void analyse_tones(WaveFile& wave, const AnalysisSettings& settings, std::FILE* report,
                   TextOutput& console, Evaluation evaluation) {
  WaveSource source(wave, WaveEncoding{}, ChannelChoice::mix());
  ClassicReport classic(report, console, settings);
  analyse_tones(source, settings, classic, evaluation);
}

}  // namespace toneprint
