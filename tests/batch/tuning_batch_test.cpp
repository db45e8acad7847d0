// toneprint-batch against a target: expected notes from a list, a file name
// or a sampler chunk, a temperament at a reference pitch, the best-fitting
// reference, and the octave guard.

#include <nlohmann/json.hpp>

#include "support/test_support.h"

using json = nlohmann::json;
namespace test = toneprint::test;

namespace {

constexpr std::uint32_t rate = 44100;

// Tones of a second each, 0.6 s of silence around each.
std::vector<std::int16_t> tones(const std::vector<test::ToneRecipe>& recipes) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(0.6 * rate), 0);
  for (const test::ToneRecipe& recipe : recipes) {
    for (const double v : test::synthesise(recipe, rate, rate)) {
      samples.push_back(static_cast<std::int16_t>(v));
    }
    samples.resize(samples.size() + static_cast<std::size_t>(0.6 * rate), 0);
  }
  return samples;
}

test::ToneRecipe plain(double f) { return {f, {{1, 12000, 0}, {2, 4000, 1}, {3, 2000, 2}}}; }

// A WAVE file with a sampler chunk naming `note` and `fraction` (of a
// semitone, times 2^32) after its data.
std::string with_sampler_chunk(std::string bytes, std::uint32_t note, std::uint32_t fraction) {
  std::string chunk = "smpl";
  const auto u32 = [&chunk](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  u32(36);
  for (const std::uint32_t field : {0u, 0u, 22676u, note, fraction, 0u, 0u, 0u, 0u}) u32(field);
  bytes += chunk;
  const auto riff_size = static_cast<std::uint32_t>(bytes.size() - 8);
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<char>((riff_size >> (8 * i)) & 0xFF);
  return bytes;
}

json run_json(const test::TempDir& dir, const std::string& arguments, test::ProgramRun& run,
              int status = 0) {
  const std::string out = dir.file("out.json");
  std::filesystem::remove(out);
  run = test::run_program(TONEPRINT_BATCH_BINARY, "--force -f json -o " + out + " " + arguments,
                          dir.write("input", ""), dir.file("console"));
  EXPECT_EQ(run.status, status) << arguments << "\n" << run.console;
  return std::filesystem::exists(out) ? json::parse(test::read_file(out)) : json();
}

}  // namespace

// Three tones tuned in Werckmeister III at A4 = 415 Hz: each lies on its
// target, and the best reference is 415 Hz whatever A4 the run assumes.
// The targets come from the temperament's published cents above C (C 0, E
// 390.225, G# 792.180, A 888.270).
TEST(TuningMode, TonesLieOnTheirTemperamentsTargetsAndTheReferenceIsFound) {
  const test::TempDir dir;
  const auto werckmeister = [](double cents_above_c) {
    return 415.0 * std::pow(2.0, (cents_above_c - 888.270) / 1200.0);
  };
  const std::string file = dir.write(
      "scale.wav", test::wave(tones({plain(werckmeister(0.0)), plain(werckmeister(390.225)),
                                     plain(werckmeister(792.180))})));
  for (const char* a4 : {"415", "440"}) {
    test::ProgramRun run;
    const json document = run_json(
        dir, std::string("--expect C4,E4,G#4 --temperament werckmeister-iii --a4 ") + a4 + " " +
                 file,
        run);
    const json& found = document["recordings"][0]["tones"];
    ASSERT_EQ(found.size(), 3u) << run.console;
    const char* notes[] = {"C4", "E4", "G#4"};
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(found[i]["expected_note"], notes[i]);
      EXPECT_EQ(found[i]["expected_from"], "expectation");
      if (std::string(a4) == "415") {
        EXPECT_NEAR(found[i]["deviation_cents"].get<double>(), 0.0, 0.05) << notes[i];
      }
    }
    EXPECT_NEAR(document["best_reference"]["a4_hz"].get<double>(), 415.0, 0.05) << a4;
    EXPECT_EQ(document["best_reference"]["tones"], 3);
    EXPECT_EQ(document["tuning"]["temperament"], "werckmeister-iii");
    EXPECT_NE(run.console.find("best reference: A4 = 415.00 Hz \u00b1 0.00 from 3 tones"),
              std::string::npos)
        << run.console;
  }
  // The CSV has the target's columns after the nearest note's, and a run
  // without a target has none of them.
  for (const char* target : {"--temperament equal ", ""}) {
    const test::ProgramRun run = test::run_program(
        TONEPRINT_BATCH_BINARY, std::string("-q ") + target + file, dir.write("input", ""),
        dir.file("console"));
    const bool columns =
        run.console.find(",note,cents,expected_note,expected_hz,deviation_cents,") !=
        std::string::npos;
    EXPECT_EQ(columns, *target != '\0') << run.console;
  }
}

// Where each recording's expected note comes from, and what is said when
// it gives none.
TEST(TuningMode, ExpectedNotesFromAListAFileNameOrASamplerChunk) {
  const test::TempDir dir;
  const double e4 = 440.0 * std::pow(2.0, -5.0 / 12.0);
  const std::string one = test::wave(tones({plain(e4)}));
  const std::string two = test::wave(tones({plain(e4), plain(e4)}));
  const std::string named = dir.write("Harp_E4.wav", one);
  const std::string unnamed = dir.write("take.wav", one);
  const std::string pair = dir.write("pair.wav", two);
  // Note 64 and half a semitone: E4 at +50 cents.
  const std::string sampled = dir.write("sampled.wav", with_sampler_chunk(one, 64, 0x80000000u));
  const struct {
    std::string arguments;
    int status;
    std::vector<std::string> expected;  // per tone; "" for none
    double deviation;                   // of the first tone, cents
    const char* said;                   // on standard error
  } cases[] = {
      {"--expect filename " + named, 0, {"E4"}, 0.0, ""},
      {"--expect filename " + unnamed, 1, {""}, 0.0, "take.wav: no note in the file name"},
      {"--expect smpl " + sampled, 0, {"E4"}, -50.0, ""},
      {"--expect smpl " + named, 1, {""}, 0.0, "Harp_E4.wav: no sampler (smpl) chunk"},
      {"--expect 64 " + pair, 0, {"E4", ""}, 0.0, "the 1 expected notes end before tone 2"},
      {"--expect E4,E4,E4 " + pair, 0, {"E4", "E4"}, 0.0, "1 of the 3 expected notes were left"},
      {"--expect E4,F4,F#4 " + named + " " + pair, 0, {"E4"}, 0.0, ""},
  };
  for (const auto& c : cases) {
    test::ProgramRun run;
    const json document = run_json(dir, c.arguments, run, c.status);
    const json& found = document["recordings"][0]["tones"];
    ASSERT_EQ(found.size(), c.expected.size()) << c.arguments;
    for (std::size_t i = 0; i < found.size(); ++i) {
      // Without an expected note, a tone is judged against the nearest.
      EXPECT_EQ(found[i]["expected_note"], "E4") << c.arguments;
      EXPECT_EQ(found[i]["expected_from"], c.expected[i].empty() ? "nearest" : "expectation")
          << c.arguments << " tone " << i + 1;
    }
    EXPECT_NEAR(found[0]["deviation_cents"].get<double>(), c.deviation, 0.05) << c.arguments;
    EXPECT_NE(run.console.find(c.said), std::string::npos) << c.arguments << "\n" << run.console;
  }
  // A list runs on from one recording's tones to the next's.
  test::ProgramRun run;
  const json document = run_json(dir, "--expect E4,F4,F#4 " + named + " " + pair, run);
  EXPECT_EQ(document["recordings"][1]["tones"][1]["expected_note"], "F#4");
  EXPECT_NEAR(document["recordings"][1]["tones"][1]["deviation_cents"].get<double>(), -200.0,
              0.05);
}

// An organ note with a sub-octave rank: the default finds the octave below;
// with the note expected, the robust and partials modes take the note, and
// say why. Without an expectation nothing changes.
TEST(TuningMode, TheOctaveGuardTakesTheExpectedNoteWhenTheSpectrumShowsIt) {
  const test::TempDir dir;
  const double note = 261.6256;  // C4
  const test::ToneRecipe organ{
      note / 2, {{1, 2500, 0}, {2, 9000, 1}, {3, 800, 2}, {4, 6000, 3}, {6, 3000, 4}}};
  const std::string file = dir.write("organ.wav", test::wave(tones({organ})));
  const struct {
    const char* arguments;
    double frequency;   // Hz
    const char* taken;  // the octave check's verdict, or null for none
    // Whether a best reference is fitted: a tone an octave from its
    // expected note is a wrong note, not a matter of tuning.
    bool reference;
  } cases[] = {
      {"--robust", note / 2, nullptr, false},
      {"--expect C4", note / 2, nullptr, false},
      {"--robust --expect C4", note, "expected", true},
      {"--partials --expect C4", note, "expected", true},
      {"--robust --expect C3", note / 2, nullptr, true},
  };
  for (const auto& c : cases) {
    test::ProgramRun run;
    const json document = run_json(dir, std::string(c.arguments) + " " + file, run);
    const json& tone = document["recordings"][0]["tones"].at(0);
    EXPECT_NEAR(test::cents(tone["frequency_hz"].get<double>(), c.frequency), 0.0, 1.0)
        << c.arguments;
    EXPECT_EQ(tone.contains("octave_check"), c.taken != nullptr) << c.arguments;
    EXPECT_EQ(document.value("best_reference", json()).is_object(), c.reference) << c.arguments;
    if (c.taken != nullptr) {
      EXPECT_EQ(tone["octave_check"]["taken"], c.taken) << c.arguments;
      EXPECT_NEAR(tone["octave_check"]["found_hz"].get<double>(), note / 2, 1.0) << c.arguments;
      EXPECT_NE(tone["octave_check"]["evidence"], "none") << c.arguments;
    }
  }
}
