// The reader of stored results on any text: it gives tones or a reason,
// never both, never an exception, and what it gives is what a comparison
// can take.

#include <cmath>
#include <string_view>
#include <vector>

#include "toneprint/stored_results.h"
#include "fuzz_support.h"

using namespace toneprint;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<ComparedTone> tones;
  const std::string error = read_stored_tones(text, tones);
  FUZZ_CHECK(error.empty() || tones.empty());
  for (const ComparedTone& tone : tones) {
    FUZZ_CHECK(tone.note >= 0 && tone.note <= 127);
    FUZZ_CHECK(std::isfinite(tone.frequency_hz) && tone.frequency_hz > 0.0);
    FUZZ_CHECK(tone.amplitudes.size() <= 1024);
    for (const std::optional<double>& a : tone.amplitudes) FUZZ_CHECK(!a || std::isfinite(*a));
  }
  // Whatever was read can be compared.
  const Comparison comparison = compare_sets({{"stored", tones}, {"again", tones}});
  FUZZ_CHECK(comparison.unmatched.empty());
  return 0;
}
