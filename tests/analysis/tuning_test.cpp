#include "analysis/tuning.h"

#include "analysis/tone_results.h"
#include "support/test_support.h"

using namespace toneprint;

namespace {

std::vector<int> midis(const std::vector<MidiNote>& notes) {
  std::vector<int> out;
  for (const MidiNote& note : notes) out.push_back(note.midi);
  return out;
}

// A table's ratio reduced into the octave [1, 2).
double within_octave(double ratio) {
  while (ratio >= 2.0) ratio /= 2.0;
  while (ratio < 1.0) ratio *= 2.0;
  return ratio;
}

// The textbook frequency of `midi` in a twelve-note scale of `ratios` laid
// on `root`, A4 at `a4`, each octave above A4 wider by `stretch` cents.
double textbook_hz(const std::array<double, 12>& ratios, int root, double a4, double stretch,
                   int midi) {
  const auto pitch = [&](int m) {
    const int key = m - 60 - root;
    const int octave = key >= 0 ? key / 12 : -((11 - key) / 12);
    return ratios[static_cast<std::size_t>(key - 12 * octave)] * std::pow(2.0, octave);
  };
  return a4 * pitch(midi) / pitch(69) * std::pow(2.0, stretch * (midi - 69) / 12.0 / 1200.0);
}

}  // namespace

TEST(Tuning, NoteNamesAndNumbers) {
  const std::vector<std::pair<std::string, int>> good = {
      {"C4", 60},  {"c4", 60},  {"A4", 69},  {"C#4", 61}, {"Db4", 61}, {"db4", 61}, {"Bb2", 46},
      {"bb2", 46}, {"E#4", 65}, {"Cb4", 59}, {"B#3", 60}, {"C-1", 0},  {"a-1", 9},  {"C#-1", 1},
      {"G9", 127}, {"0", 0},    {"007", 7},  {"60", 60},  {"060", 60}, {"127", 127}};
  for (const auto& [text, midi] : good) EXPECT_EQ(parse_note(text), midi) << text;
  for (const char* text :
       {"",     " C4", "C4 ", "H4", "C10",  "C-2", "Cb-1", "G#9", "Ab9", "128",
        "0060", "-1",  "+60", "C#", "C##4", "CB4", "C4#",  "C 4", "6O",  "A4.0"}) {
    EXPECT_EQ(parse_note(text), std::nullopt) << text;
  }
  // Every note by the name that results give it.
  for (int midi = 0; midi <= 127; ++midi) EXPECT_EQ(parse_note(note_name(midi)), midi);
}

TEST(Tuning, NotesInFileNames) {
  const std::vector<std::pair<std::string, int>> good = {{"Piano_C#4.wav", 61},
                                                         {"A3-soft.flac", 57},
                                                         {"060.wav", 60},
                                                         {"Bb2 mf.wav", 46},
                                                         {"flute-a4.wav", 69},
                                                         {"/samples/Viola 2/D3.wav", 50},
                                                         {"C:\\organ\\Principal 8' G#2.aif", 44},
                                                         {"Bass_E1.wav", 28},
                                                         {"Cello A-1.wav", 9},
                                                         {"A3-1.wav", 57},
                                                         {"A4.take3.wav", 69},
                                                         {"no-extension-E2", 40},
                                                         {"7.wav", 7},
                                                         {"viola_056-Gs3.wav", 56},
                                                         {"Fs-1.wav", 6}};
  for (const auto& [path, midi] : good) {
    const NoteInName note = note_in_file_name(path);
    EXPECT_EQ(note.midi, midi) << path;
    EXPECT_EQ(note.error, "") << path;
  }
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"Bass.wav", "Bass.wav: no note in the file name"},
      {"Class3.wav", "Class3.wav: no note in the file name"},
      {"Cello.wav", "Cello.wav: no note in the file name"},
      {"A440.wav", "A440.wav: no note in the file name"},
      {"E2mf.wav", "E2mf.wav: no note in the file name"},
      {"Ab-2.wav", "Ab-2.wav: no note in the file name"},
      {"G#9.wav", "G#9.wav: no note in the file name"},
      {"128.wav", "128.wav: no note in the file name"},
      {"C4/take.wav", "C4/take.wav: no note in the file name"},
      {"", ": no note in the file name"},
      {"dir\\Piano C4 D4.wav", "dir\\Piano C4 D4.wav: 2 notes in the file name (C4, D4)"},
      {"Bb2.C#3.wav", "Bb2.C#3.wav: 2 notes in the file name (Bb2, C#3)"}};
  for (const auto& [path, error] : bad) {
    const NoteInName note = note_in_file_name(path);
    EXPECT_EQ(note.midi, std::nullopt) << path;
    EXPECT_EQ(note.error, error);
  }
}

TEST(Tuning, Expectations) {
  EXPECT_EQ(parse_expectation("filename").expectation.kind, ExpectationKind::file_name);
  EXPECT_EQ(parse_expectation("smpl").expectation.kind, ExpectationKind::sampler);
  const std::vector<std::pair<std::string, std::vector<int>>> lists = {
      {"C4,D4,E4", {60, 62, 64}}, {"60, 62", {60, 62}}, {" a4 ", {69}}};
  for (const auto& [text, notes] : lists) {
    const ExpectationParse parse = parse_expectation(text);
    EXPECT_EQ(parse.expectation.kind, ExpectationKind::list) << text;
    EXPECT_EQ(midis(parse.expectation.notes), notes) << text;
    EXPECT_EQ(parse.error, "");
  }

  test::TempDir dir;
  const std::string notes = dir.write("notes.txt", "# run 1\r\n\r\n  C4 \r\nD4\n\n# end\n62\nE4");
  const std::string bad_line = dir.write("bad.txt", "C4\n\n H4 \n");
  const std::string comments = dir.write("comments.txt", "# only this\n\n");
  const std::string largest =
      dir.write("largest.txt", std::string(max_expectation_file_bytes - 3, '#') + "\nC4");
  const std::string too_large =
      dir.write("too_large.txt", std::string(max_expectation_file_bytes - 2, '#') + "\nC4");
  const ExpectationParse file = parse_expectation("@" + notes);
  EXPECT_EQ(file.expectation.kind, ExpectationKind::list);
  EXPECT_EQ(midis(file.expectation.notes), std::vector<int>({60, 62, 62, 64}));
  EXPECT_EQ(midis(parse_expectation("@" + largest).expectation.notes), std::vector<int>{60});

  std::string most(max_expected_notes * 3 - 1, ',');
  for (std::size_t i = 0; i < most.size(); i += 3) most.replace(i, 2, "C4");
  EXPECT_EQ(parse_expectation(most).expectation.notes.size(), max_expected_notes);

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"", "no notes given"},
      {" ", "no notes given"},
      {"C4,H4", "entry 2: \"H4\" is not a note"},
      {"C4,,D4", "entry 2: empty"},
      {"C4,", "entry 2: empty"},
      {"Filename", "entry 1: \"Filename\" is not a note"},
      {"C4 D4", "entry 1: \"C4 D4\" is not a note"},
      {std::string("C4\0", 3), "entry 1: \"C4\\x00\" is not a note"},
      {most + ",C4", "more than 100000 notes"},
      {"@", "no file named after '@'"},
      {"@" + bad_line, bad_line + " line 3: \"H4\" is not a note"},
      {"@" + comments, comments + ": holds no note"},
      {"@" + too_large, too_large + ": larger than 1048576 bytes"},
      {std::string("@").append(dir.file("missing.txt")),
       dir.file("missing.txt") + ": cannot be opened (No such file or directory)"}};
  for (const auto& [text, error] : bad) {
    const ExpectationParse parse = parse_expectation(text);
    EXPECT_EQ(parse.expectation.kind, ExpectationKind::none) << text.substr(0, 40);
    EXPECT_EQ(parse.error, error);
  }
}

// The published cents of each temperament from C (Barbour, "Tuning and
// Temperament", 1951, and the tables that follow him), to 0.01 cent.
TEST(Tuning, BuiltInTemperamentsMatchPublishedTables) {
  const std::vector<std::pair<std::string, std::array<double, 12>>> published = {
      {"equal", {0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100}},
      {"pythagorean",
       {0, 113.685, 203.910, 294.135, 407.820, 498.045, 611.730, 701.955, 815.640, 905.865, 996.090,
        1109.775}},
      {"quarter-comma-meantone",
       {0, 76.049, 193.157, 310.265, 386.314, 503.422, 579.471, 696.578, 772.627, 889.735, 1006.843,
        1082.892}},
      {"sixth-comma-meantone",
       {0, 88.594, 196.741, 304.888, 393.482, 501.629, 590.224, 698.371, 786.965, 895.112, 1003.259,
        1091.853}},
      {"werckmeister-iii",
       {0, 90.225, 192.180, 294.135, 390.225, 498.045, 588.270, 696.090, 792.180, 888.270, 996.090,
        1092.180}},
      {"kirnberger-iii",
       {0, 90.225, 193.157, 294.135, 386.314, 498.045, 590.224, 696.578, 792.180, 889.735, 996.090,
        1088.269}},
      {"vallotti",
       {0, 94.135, 196.090, 298.045, 392.180, 501.955, 592.180, 698.045, 796.090, 894.135, 1000.000,
        1090.225}},
      {"young",
       {0, 90.225, 196.090, 294.135, 392.180, 498.045, 588.270, 698.045, 792.180, 894.135, 996.090,
        1090.225}},
      {"just",
       {0, 111.731, 203.910, 315.641, 386.314, 498.045, 590.224, 701.955, 813.686, 884.359,
        1017.596, 1088.269}}};
  ASSERT_EQ(built_in_temperaments.size(), published.size());
  for (std::size_t t = 0; t < published.size(); ++t) {
    const auto& [name, cents] = published[t];
    EXPECT_EQ(built_in_temperaments[t].name, name);
    const TemperamentRead read = read_temperament(name);
    ASSERT_TRUE(read.temperament) << name;
    EXPECT_EQ(read.temperament->name, name);
    EXPECT_EQ(read.temperament->period_cents, 1200.0);
    ASSERT_EQ(read.temperament->degrees.size(), 12u);
    for (std::size_t k = 0; k < 12; ++k) {
      EXPECT_NEAR(built_in_temperaments[t].cents[k], cents[k], 0.01) << name << " " << k;
      EXPECT_EQ(read.temperament->degrees[k], built_in_temperaments[t].cents[k]);
    }
    // A4 sounds at the reference whatever the temperament and its root.
    for (int root = 0; root < 12; ++root) {
      EXPECT_EQ(target_hz({*read.temperament, root, 415.0, 7.0}, {69, 0.0}), 415.0);
    }
  }
}

// Tones tuned in Werckmeister III at 415 Hz on C and in quarter-comma
// meantone at 430 Hz laid on A with a stretch, from the temperaments'
// ratios: each is found at its note with its deviation, and the tones give
// back their reference.
TEST(Tuning, TargetsDeviationsAndBestReference) {
  const double r2 = std::sqrt(2.0);
  const double r4 = std::pow(2.0, 0.25);
  const std::array<double, 12> werckmeister = {
      1.0,      256.0 / 243,    64.0 / 81 * r2,         32.0 / 27,  256.0 / 243 * r4,
      4.0 / 3,  1024.0 / 729,   8.0 / 9 * r4 * r4 * r4, 128.0 / 81, 1024.0 / 729 * r4,
      16.0 / 9, 128.0 / 81 * r4};
  // Quarter-comma meantone: the fifth is 5^(1/4); the degrees above the
  // first, counted in fifths from it, from Eb to G# when the first is C.
  const std::array<int, 12> fifths = {0, 7, 2, -3, 4, -1, 6, 1, 8, 3, -2, 5};
  std::array<double, 12> meantone{};
  for (std::size_t k = 0; k < 12; ++k) meantone[k] = within_octave(std::pow(5.0, fifths[k] / 4.0));

  struct Case {
    std::string temperament;
    std::array<double, 12> ratios;
    int root;
    double a4;
    double stretch;
  };
  const std::vector<Case> cases = {{"werckmeister-iii", werckmeister, 0, 415.0, 0.0},
                                   {"quarter-comma-meantone", meantone, 9, 430.0, 3.5},
                                   {"quarter-comma-meantone", meantone, 2, 430.0, -12.0}};
  const std::array<double, 5> deviations = {-7.5, 0.0, 3.25, 12.0, -20.5};
  for (const Case& c : cases) {
    const Tuning tuning{*read_temperament(c.temperament).temperament, c.root, c.a4, c.stretch};
    std::vector<JudgedTone> exact;
    for (int midi = 21; midi <= 108; ++midi) {
      const double hz = textbook_hz(c.ratios, c.root, c.a4, c.stretch, midi);
      EXPECT_NEAR(target_hz(tuning, {midi, 0.0}) / hz, 1.0, 1e-13) << midi;
      const double deviation = deviations[static_cast<std::size_t>(midi) % deviations.size()];
      const TargetNote found = nearest_target(tuning, hz * std::pow(2.0, deviation / 1200.0));
      EXPECT_EQ(found.midi, midi) << c.temperament << " " << midi;
      EXPECT_NEAR(found.cents, deviation, 1e-9) << midi;
      EXPECT_NEAR(found.hz / hz, 1.0, 1e-13);
      // A note given a fraction of a semitone above it.
      EXPECT_NEAR(cents_from(target_hz(tuning, {midi, 37.5}), hz), 37.5, 1e-9);
      exact.push_back({hz, {midi, 0.0}});
    }
    const std::optional<BestReference> fit = best_reference(tuning, exact);
    ASSERT_TRUE(fit);
    EXPECT_NEAR(fit->a4_hz, c.a4, 1e-9);
    EXPECT_NEAR(fit->interval_hz, 0.0, 1e-9);
    EXPECT_EQ(fit->tones, exact.size());

    // All sharp by 6 cents: the reference follows, and nothing spreads.
    std::vector<JudgedTone> sharp = exact;
    for (JudgedTone& tone : sharp) tone.frequency *= std::pow(2.0, 6.0 / 1200.0);
    EXPECT_NEAR(best_reference(tuning, sharp)->a4_hz, c.a4 * std::pow(2.0, 6.0 / 1200.0), 1e-9);

    // Outliers and tones without a frequency leave the median where it was.
    std::vector<JudgedTone> rough = exact;
    rough[3].frequency *= 1.5;
    rough[40].frequency /= 3.0;
    rough.push_back({std::nan(""), {69, 0.0}});
    rough.push_back({0.0, {69, 0.0}});
    rough.push_back({-440.0, {69, 0.0}});
    rough.push_back({std::numeric_limits<double>::infinity(), {69, 0.0}});
    const std::optional<BestReference> robust = best_reference(tuning, rough);
    ASSERT_TRUE(robust);
    EXPECT_NEAR(robust->a4_hz, c.a4, 1e-9);
    EXPECT_NEAR(robust->interval_hz, 0.0, 1e-9);
    EXPECT_EQ(robust->tones, exact.size());
  }

  // Five equal-tempered notes 2 and 1 cents flat, in tune, 1 and 2 cents
  // sharp: they imply A4s of 440 Hz times 2^(c/1200); the median is 440 Hz,
  // and the absolute deviations' median the +1 cent one's, 440 (2^(1/1200) - 1).
  const Tuning equal;
  std::vector<JudgedTone> spread;
  for (const int off : {-2, -1, 0, 1, 2}) {
    const int midi = 63 + 3 * off;
    spread.push_back({440.0 * std::pow(2.0, (midi - 69) / 12.0 + off / 1200.0), {midi, 0.0}});
  }
  const double mad = 440.0 * (std::pow(2.0, 1.0 / 1200.0) - 1.0);
  const std::optional<BestReference> fit = best_reference(equal, spread);
  ASSERT_TRUE(fit);
  EXPECT_NEAR(fit->a4_hz, 440.0, 1e-9);
  EXPECT_NEAR(fit->interval_hz, 1.96 * 1.2533 * 1.4826 * mad / std::sqrt(5.0), 1e-9);
  EXPECT_EQ(fit->tones, 5u);

  const std::vector<JudgedTone> one = {{445.0, {69, 0.0}}};
  EXPECT_NEAR(best_reference(equal, one)->a4_hz, 445.0, 1e-9);
  EXPECT_EQ(best_reference(equal, one)->interval_hz, 0.0);
  EXPECT_EQ(best_reference(equal, {}), std::nullopt);
  const std::vector<JudgedTone> none = {{0.0, {69, 0.0}}, {std::nan(""), {60, 0.0}}};
  EXPECT_EQ(best_reference(equal, none), std::nullopt);
  EXPECT_TRUE(std::isnan(nearest_target(equal, 0.0).cents));
  EXPECT_TRUE(std::isnan(nearest_target(equal, std::nan("")).cents));
}

// Scales of other sizes and periods: 19 equal steps laid on A, and the
// Bohlen-Pierce scale's 13 equal steps of the tritave 3/1.
TEST(Tuning, ScalesOfOtherSizes) {
  std::string nineteen = "19-EDO\n19\n";
  for (int k = 1; k <= 19; ++k) nineteen += std::to_string(k * 1200.0 / 19) + "\n";
  std::string bohlen_pierce = "Bohlen-Pierce\n 13\n";
  for (int k = 1; k < 13; ++k)
    bohlen_pierce += std::to_string(k * 1200.0 * std::log2(3.0) / 13) + "\n";
  bohlen_pierce += "3/1\n";
  struct Case {
    std::string scale;
    int steps;
    double period;  // as a ratio
  };
  for (const Case& c : {Case{nineteen, 19, 2.0}, Case{bohlen_pierce, 13, 3.0}}) {
    const TemperamentRead read = parse_scala(c.scale);
    ASSERT_TRUE(read.temperament) << read.error;
    const Tuning tuning{*read.temperament, 9, 440.0, 0.0};
    for (const int key : {-40, 0, 30, 69, 70, 94, 150, 300}) {
      // 6 decimals of the steps' cents in the file: 1e-6 cents off.
      const double hz = 440.0 * std::pow(c.period, (key - 69.0) / c.steps);
      const TargetNote found = nearest_target(tuning, hz * std::pow(2.0, 10.0 / 1200.0));
      EXPECT_EQ(found.midi, key) << read.temperament->name;
      EXPECT_NEAR(found.cents, 10.0, 1e-5);
    }
  }
}

TEST(Tuning, ScaleFiles) {
  struct Good {
    std::string text;
    std::string name;
    std::vector<double> degrees;
    double period;
  };
  const double fifth = 1200.0 * std::log2(1.5);
  const std::vector<Good> good = {
      {"! a.scl\n!\nFifths\n 2\n!\n 3/2 the fifth\n2/1\n", "Fifths", {0.0, fifth}, 1200.0},
      {"!x\r\nCRLF scale\r\n3\r\n100.0\r\n\t700. \r\n2\r\n", "CRLF scale", {0, 100, 700}, 1200.0},
      {"\n1\n+1200.0\n\n! end\n   \n", "", {0.0}, 1200.0},
      {"big terms\n  1  \n2147483648/1073741824\n", "big terms", {0.0}, 1200.0},
      {"no final newline\n2\n.5\n3", "no final newline", {0.0, 0.5}, 1200.0 * std::log2(3.0)}};
  for (const Good& g : good) {
    const TemperamentRead read = parse_scala(g.text);
    ASSERT_TRUE(read.temperament) << g.text << read.error;
    EXPECT_EQ(read.temperament->name, g.name);
    ASSERT_EQ(read.temperament->degrees.size(), g.degrees.size());
    for (std::size_t k = 0; k < g.degrees.size(); ++k) {
      EXPECT_NEAR(read.temperament->degrees[k], g.degrees[k], 1e-9) << g.name;
    }
    EXPECT_NEAR(read.temperament->period_cents, g.period, 1e-9) << g.name;
  }
  std::string most = "most\n1024\n";
  for (int k = 1; k <= 1024; ++k) most += std::to_string(k) + ".0\n";
  EXPECT_EQ(parse_scala(most).temperament->degrees.size(), 1024u);

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"", "the file holds no description line"},
      {"! only a comment\n", "the file holds no description line"},
      {"desc\n", "the file ends before the count of notes"},
      {"desc\n0\n", "line 2: \"0\" is not a count of notes from 1 to 1024"},
      {"desc\n1025\n", "line 2: \"1025\" is not a count of notes from 1 to 1024"},
      {"desc\n99999999999999999999\n2/1\n", "line 2: \"99999999999999999999\" is not a count"},
      {"desc\n-1\n", "line 2: \"-1\" is not a count"},
      {"desc\n\n2/1\n", "line 2: \"\" is not a count"},
      {"desc\n1\n3/0\n", "line 3: \"3/0\" is not a ratio or cents"},
      {"desc\n1\n0/1\n", "line 3: \"0/1\" is not a ratio or cents"},
      {"desc\n1\n-3/2\n", "line 3: \"-3/2\" is not a ratio or cents"},
      {"desc\n1\n1/2/3\n", "line 3: \"1/2/3\" is not a ratio or cents"},
      {"desc\n1\n2147483649/2\n", "line 3: \"2147483649/2\" is not a ratio or cents"},
      {"desc\n1\n18446744073709551617\n", "line 3: \"18446744073709551617\" is not a ratio"},
      {"desc\n1\nnan\n", "line 3: \"nan\" is not a ratio or cents"},
      {"desc\n1\ninf.0\n", "line 3: \"inf.0\" is not a ratio or cents"},
      {"desc\n1\n1.0e3\n", "line 3: \"1.0e3\" is not a ratio or cents"},
      {"desc\n1\n.\n", "line 3: \".\" is not a ratio or cents"},
      {"desc\n1\n1" + std::string(400, '0') + ".0\n", "line 3: \"10000000000"},
      {"desc\n1\n37200.1\n", "line 3: \"37200.1\" is more than 31 octaves above the unison"},
      {"desc\n1\n-100.0\n", "line 3: \"-100.0\" is not above the unison (-100.000 c)"},
      {"desc\n1\n1/1\n", "line 3: \"1/1\" is not above the unison (0.000 c)"},
      {"desc\n3\n700.0\n! c\n600.0\n1200.0\n",
       "line 5: \"600.0\" (600.000 c) does not rise above the note before it on line 3 (700.000 "
       "c)"},
      {"desc\n2\n3/2\n3/2\n", "line 4: \"3/2\" (701.955 c) does not rise"},
      {"desc\n2\n\n2/1\n", "line 3: \"\" is not a ratio or cents"},
      {"desc\n3\n100.0\n200.0\n", "the file ends after 2 of 3 notes"},
      {"desc\n1\n2/1\n\njunk\n", "line 5: \"junk\" follows the last of the 1 notes"},
      {std::string("desc\n1\n2/\0\n", 11), "line 3: holds a NUL byte"},
      {std::string("\0", 1), "line 1: holds a NUL byte"}};
  for (const auto& [text, error] : bad) {
    const TemperamentRead read = parse_scala(text);
    EXPECT_FALSE(read.temperament) << text;
    EXPECT_EQ(read.error.substr(0, error.size()), error) << read.error;
  }
}

TEST(Tuning, TemperamentsByNameOrFile) {
  test::TempDir dir;
  const std::string named = dir.write("fifths.scl", "! fifths.scl\nPure fifths\n1\n3/2\n");
  const std::string unnamed = dir.write("Meantone.SCL", "\n1\n2/1\n");
  const std::string broken = dir.write("broken.scl", "desc\n1\n3/0\n");
  const std::string largest =
      dir.write("largest.scl", std::string(max_scale_file_bytes - 9, '!') + "\nd\n1\n2/1\n");
  const std::string too_large =
      dir.write("too_large.scl", std::string(max_scale_file_bytes - 8, '!') + "\nd\n1\n2/1\n");
  const std::string folder = dir.file("folder.scl");
  std::filesystem::create_directory(folder);

  EXPECT_EQ(read_temperament(named).temperament->name, "Pure fifths");
  EXPECT_EQ(read_temperament(unnamed).temperament->name, "Meantone.SCL");
  EXPECT_EQ(read_temperament(largest).temperament->name, "d");
  const std::string names =
      "(equal, pythagorean, quarter-comma-meantone, sixth-comma-meantone, werckmeister-iii, "
      "kirnberger-iii, vallotti, young, just) nor a scale file (.scl)";
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"Equal", "\"Equal\" is neither a temperament built in " + names},
      {"", "\"\" is neither a temperament built in " + names},
      {".scl", "\".scl\" is neither a temperament built in " + names},
      {dir.file("scale.txt"), '"' + dir.file("scale.txt") + "\" is neither"},
      {broken, broken + ": line 3: \"3/0\" is not a ratio or cents"},
      {too_large, too_large + ": larger than 65536 bytes"},
      {dir.file("missing.scl"), dir.file("missing.scl") + ": cannot be opened (No such file"},
      // Opened and then unreadable here; not opened at all on Windows.
      {folder, folder + ": cannot be "},
  };
  for (const auto& [name, error] : bad) {
    const TemperamentRead read = read_temperament(name);
    EXPECT_FALSE(read.temperament) << name;
    EXPECT_EQ(read.error.substr(0, error.size()), error);
  }
}
