// The settings dialogue and the console file dialogs on any typed input: the
// first 4 bytes are the recording's sample rate (little-endian), the rest is
// standard input.

#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/analysis_settings.h"
#include "app/console.h"
#include "app/file_dialogs.h"
#include "app/settings_dialogue.h"
#include "fuzz_support.h"

using namespace toneprint;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sample_rate = 0;
  const std::size_t rate_bytes = std::min<std::size_t>(size, 4);
  for (std::size_t i = 0; i < rate_bytes; ++i) sample_rate |= std::uint32_t{data[i]} << 8 * i;
  ScriptedConsole console(std::string(data + rate_bytes, data + size));

  AnalysisSettings settings;
  configure_settings(console, settings, sample_rate);
  FUZZ_CHECK(settings.sample_rate == sample_rate);
  for (const SettingBounds& bounds : setting_bounds) {
    const SettingRange range = setting_range(bounds, settings);
    const double value = setting_value(settings, bounds.setting);
    FUZZ_CHECK(range.minimum <= value && value <= range.maximum);
    if (bounds.kind == SettingKind::whole) FUZZ_CHECK(value == std::trunc(value));
  }
  const std::uint32_t fft = settings.fft_size;
  FUZZ_CHECK(fft == 2048 || fft == 4096 || fft == 8192 || fft == 16384);
  FUZZ_CHECK(1 <= settings.fft_hop && settings.fft_hop <= fft);

  // The rest of the input answers the open and the save dialogs.
  ConsoleFileDialogs dialogs(console);
  std::string path;
  if (dialogs.open_file({"Select the recorded sample", {}, "", dialog_file_must_exist}, path)) {
    FUZZ_CHECK(!path.empty());
  }
  path = "take";
  if (dialogs.save_file({"Enter a filename for the output", {}, "txt", dialog_overwrite_prompt},
                        path)) {
    FUZZ_CHECK(!path.empty());
  }
  return 0;
}
