// The tuning's text parsers on any text: a Scala scale file, an expected
// list of notes (not a file, which the fuzzer cannot name) and a file name.
// Whatever they accept must be what they promise; a scale they accept must
// give targets, and the nearest of them, for a frequency from the input.

#include <cmath>
#include <string>
#include <string_view>

#include "analysis/tone_results.h"
#include "analysis/tuning.h"
#include "fuzz_support.h"

using namespace toneprint;

namespace {

void check_scale(const Temperament& scale, std::string_view text, const std::uint8_t* data,
                 std::size_t size) {
  FUZZ_CHECK(text.find('\0') == std::string_view::npos);
  const std::vector<double>& degrees = scale.degrees;
  FUZZ_CHECK(!degrees.empty() && degrees.size() <= max_scale_degrees && degrees[0] == 0.0);
  for (std::size_t k = 1; k < degrees.size(); ++k) FUZZ_CHECK(degrees[k] > degrees[k - 1]);
  FUZZ_CHECK(std::isfinite(scale.period_cents) && scale.period_cents > degrees.back());

  // A root, a stretch within its bounds and a frequency from 8 Hz to about
  // 20 kHz, from the input's last bytes.
  const std::uint8_t a = size > 0 ? data[size - 1] : 0;
  const std::uint8_t b = size > 1 ? data[size - 2] : 0;
  const Tuning tuning{scale, a % 12, 440.0, (a % 101) - 50.0};
  FUZZ_CHECK(target_hz(tuning, {69, 0.0}) == 440.0);
  const double frequency = 8.0 * std::exp2(b / 22.0);
  const TargetNote found = nearest_target(tuning, frequency);
  FUZZ_CHECK(std::isfinite(found.cents) && found.hz > 0.0);
  FUZZ_CHECK(found.hz == target_hz(tuning, {found.midi, 0.0}));
  // No neighbouring key is nearer.
  for (const int key : {found.midi - 1, found.midi + 1}) {
    FUZZ_CHECK(std::abs(cents_from(frequency, target_hz(tuning, {key, 0.0}))) >=
               std::abs(found.cents));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const TemperamentRead read = parse_scala(text);
  FUZZ_CHECK(read.temperament.has_value() == read.error.empty());
  if (read.temperament) check_scale(*read.temperament, text, data, size);

  if (text.empty() || text.front() != '@') {
    const ExpectationParse parse = parse_expectation(text);
    FUZZ_CHECK((parse.expectation.kind == ExpectationKind::none) != parse.error.empty());
    const std::vector<MidiNote>& notes = parse.expectation.notes;
    FUZZ_CHECK(notes.empty() == (parse.expectation.kind != ExpectationKind::list));
    FUZZ_CHECK(notes.size() <= max_expected_notes);
    for (const MidiNote& note : notes) {
      FUZZ_CHECK(note.midi >= 0 && note.midi <= 127 && note.cents == 0.0);
    }
  }

  const NoteInName note = note_in_file_name(text);
  FUZZ_CHECK(note.midi.has_value() == note.error.empty());
  if (note.midi) FUZZ_CHECK(*note.midi >= 0 && *note.midi <= 127);
  if (!note.error.empty()) FUZZ_CHECK(note.error.compare(0, text.size(), text) == 0);

  if (const std::optional<int> midi = parse_note(text)) {
    FUZZ_CHECK(*midi >= 0 && *midi <= 127 && parse_note(note_name(*midi)) == midi);
  }
  return 0;
}
