#include "toneprint/stored_results.h"

#include <string>
#include <vector>

#include "support/test_support.h"

using namespace toneprint;
using toneprint::test::read_file;

namespace {

constexpr std::optional<double> none = std::nullopt;

// A document of results with `tones` as its one recording's tones.
std::string document(const std::string& tones, const std::string& head = R"("format_version": 2,)") {
  return R"({"program": "toneprint-batch", "version": "0.1.0", )" + head +
         R"( "recordings": [{"file": "rank.wav", "tones": [)" + tones + "]}]}";
}

}  // namespace

// The stored tones as compared_tones would give them: matched by the
// expected note where there is one, the deviation from its target, the
// partials above the noise where the tone has a partials summary; a tone
// not measured and a recording not opened give none.
TEST(StoredResults, ReadsTheTonesOfTheCurrentLayout) {
  const std::string text = read_file(std::string(TONEPRINT_SOURCE_DIR) +
                                     "/fuzz/seeds/results/two-tones.json");
  std::vector<ComparedTone> tones;
  ASSERT_EQ(read_stored_tones(text, tones), "");
  ASSERT_EQ(tones.size(), 2u);
  const struct {
    std::size_t tone;
    int note;
    bool expected;
    double hz, cents;
    std::vector<std::optional<double>> amplitudes;
    bool descriptors;
  } want[] = {{1, 60, false, 261.7, 1.5, {1000.0, 500.0, none}, true},
              {2, 70, true, 440.0, -100.0, {2000.0, none, none}, false}};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(tones[i].file, "rank.wav");
    EXPECT_EQ(tones[i].tone, want[i].tone);
    EXPECT_EQ(tones[i].note, want[i].note);
    EXPECT_EQ(tones[i].expected, want[i].expected);
    EXPECT_EQ(tones[i].frequency_hz, want[i].hz);
    EXPECT_EQ(tones[i].deviation_cents, want[i].cents);
    EXPECT_EQ(tones[i].amplitudes, want[i].amplitudes);
    EXPECT_EQ(tones[i].descriptors.has_value(), want[i].descriptors);
  }
  ASSERT_TRUE(tones[0].descriptors.has_value());
  EXPECT_EQ(tones[0].descriptors->slope_db_per_octave, -6.02);
  EXPECT_FALSE(tones[0].descriptors->odd_even_db.has_value());
}

// Each kind of text that is not a file of this layout gets its own reason,
// and nothing is added to the tones.
TEST(StoredResults, RefusesWhatItCannotReadWithTheReason) {
  const std::string good_tone =
      R"({"tone": 1, "frequency_hz": 440.0, "note": "A4", "cents": 0.0, "harmonics": [1.0]})";
  const struct {
    const char* what;
    std::string text;
    const char* reason;
  } cases[] = {
      {"not JSON", "{\"program\": ", "not JSON: parse error at line 1, column 13"},
      {"another program's", R"({"program": "other", "format_version": 2})",
       "not a file of toneprint-batch's results"},
      {"an array", "[1, 2]", "not a file of toneprint-batch's results"},
      {"no format_version", document(good_tone, ""),
       "results in an older layout (written before toneprint-batch recorded format_version), "
       "which this version does not read: analyse the recordings again"},
      {"a newer layout", document(good_tone, R"("format_version": 3,)"),
       "results in layout 3, newer than this toneprint-batch reads (2)"},
      {"a layout that is not a number", document(good_tone, R"("format_version": "2",)"),
       "format_version is not a whole number"},
      {"recordings not a list",
       R"({"program": "toneprint-batch", "format_version": 2, "recordings": {}})",
       "no list of recordings"},
      {"a tone without harmonics",
       document(good_tone + R"(, {"tone": 2, "frequency_hz": 440.0, "note": "A4", "cents": 0.0})"),
       "recording \"rank.wav\", tone 2: \"harmonics\" is missing or not a list of amplitudes"},
      {"a note that is not one",
       document(R"({"frequency_hz": 440.0, "note": "H4", "cents": 0.0, "harmonics": []})"),
       "recording \"rank.wav\", tone 1: \"note\" is missing or not a note name"},
      {"a frequency of the wrong type",
       document(R"({"frequency_hz": "440", "note": "A4", "cents": 0.0, "harmonics": []})"),
       "recording \"rank.wav\", tone 1: \"frequency_hz\" is missing or not a frequency above 0 Hz"},
      {"an expected note without a deviation",
       document(R"({"frequency_hz": 440.0, "expected_note": "A4", "harmonics": []})"),
       "recording \"rank.wav\", tone 1: \"cents\" is missing or not a number of cents"},
      {"a partial numbered far out",
       document(R"({"frequency_hz": 440.0, "note": "A4", "cents": 0.0, "partials": )"
                R"([{"number": 1e12, "amplitude": 1.0, "below_noise": false}]})"),
       "recording \"rank.wav\", tone 1: \"partials\" is missing or not a list of partials with "
       "number, amplitude and below_noise"},
      {"descriptors without a centroid",
       document(R"({"frequency_hz": 440.0, "note": "A4", "cents": 0.0, "harmonics": [],)"
                R"( "descriptors": {"t1": 1}})"),
       "recording \"rank.wav\", tone 1: \"descriptors.centroid_harmonic\" is missing or not a "
       "number"},
      {"nested deep", std::string(100000, '[') + std::string(100000, ']'),
       "not a file of toneprint-batch's results (nested deeper than 64 levels)"},
  };
  for (const auto& c : cases) {
    std::vector<ComparedTone> tones;
    EXPECT_EQ(read_stored_tones(c.text, tones).substr(0, std::string(c.reason).size()), c.reason)
        << c.what;
    EXPECT_TRUE(tones.empty()) << c.what;
  }
}

// A file is bounded, named by its extension, and one that is missing says so.
TEST(StoredResults, FilesAreReadBoundedAndNamedByTheirExtension) {
  for (const auto& [path, is] : {std::pair{"a/b.json", true}, std::pair{"B.JSON", true},
                                 std::pair{"b.json.wav", false}, std::pair{"json", false},
                                 std::pair{"folder", false}}) {
    EXPECT_EQ(is_results_file(path), is) << path;
  }
  std::vector<ComparedTone> tones;
  EXPECT_EQ(read_stored_file("/nonexistent/results.json", tones).substr(0, 18),
            "cannot be opened (");
#ifndef _WIN32
  // A device without end is refused at the limit, not read whole.
  EXPECT_EQ(read_stored_file("/dev/zero", tones),
            "larger than " + std::to_string(max_results_file_bytes) + " bytes");
#endif
}
