#include <nlohmann/json.hpp>

#include "support/test_support.h"

#if defined(TONEPRINT_HAVE_SNDFILE)
#include <sndfile.h>
#endif

using json = nlohmann::json;
namespace test = toneprint::test;

namespace {

constexpr std::uint32_t rate = 44100;

// Three tones of a clarinet-like spectrum with silence around them.
std::vector<std::int16_t> three_tones() {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(4.5 * rate), 0);
  const double fundamentals[] = {220.0, 311.13, 493.88};
  for (int i = 0; i < 3; ++i) {
    const test::ToneRecipe recipe{fundamentals[i], {{1, 9000, 0}, {3, 4000, 1}, {5, 1500, 2}}};
    const std::vector<double> tone = test::synthesise(recipe, rate, rate);
    std::copy(tone.begin(), tone.end(), samples.begin() + (i * 3 + 1) * rate / 2);
  }
  return samples;
}

// A WAVE file of these channels' samples, each value stored by `store`.
template <typename Store>
std::string wave_of(const std::vector<std::vector<std::int16_t>>& channels, std::uint16_t bits,
                    std::uint16_t tag, int subformat, Store store) {
  std::string data;
  for (std::size_t i = 0; i < channels[0].size(); ++i) {
    for (const auto& channel : channels) data += store(channel[i]);
  }
  const auto count = static_cast<std::uint16_t>(channels.size());
  return test::riff("WAVE",
                    test::fmt_chunk(count, rate, bits, tag, subformat) + test::chunk("data", data));
}

std::string bytes_of(std::uint32_t value, int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xFF);
  return bytes;
}

#if defined(TONEPRINT_HAVE_SNDFILE)
// The samples written by libsndfile in another container; false where this
// libsndfile cannot write it.
bool write_with_sndfile(const std::string& path, int format, const std::vector<std::int16_t>& s) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return false;
  double level = 0.0;  // the highest bitrate for MP3
  sf_command(file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
  const bool written = sf_writef_short(file, s.data(), static_cast<sf_count_t>(s.size())) ==
                       static_cast<sf_count_t>(s.size());
  return sf_close(file) == 0 && written;
}
#endif

json analysed(const test::TempDir& dir, const std::string& arguments) {
  const std::string out = dir.file("out.json");
  std::filesystem::remove(out);
  const test::ProgramRun run =
      test::run_program(TONEPRINT_BATCH_BINARY, "-q -f json -o " + out + " " + arguments,
                        dir.write("input", ""), dir.file("console"));
  EXPECT_EQ(run.status, 0) << run.console;
  return json::parse(test::read_file(out));
}

}  // namespace

// The same recording in every format gives the same tones as its 16-bit
// original: frequencies within 0.001 Hz, amplitudes within 0.05 % (wider,
// as measured, where the format itself loses precision).
TEST(Batch, EveryFormatGivesTheToneOfTheSixteenBitOriginal) {
  const test::TempDir dir;
  const std::vector<std::int16_t> s = three_tones();
  const std::vector<std::int16_t> quiet(s.size(), 0);
  auto float32 = [](std::int16_t v) {
    const float f = static_cast<float>(v) / 32768.0f;
    std::uint32_t bits = 0;
    std::memcpy(&bits, &f, 4);
    return bytes_of(bits, 4);
  };
  auto int24 = [](std::int16_t v) { return bytes_of(static_cast<std::uint32_t>(v * 256), 3); };
  auto uint8 = [](std::int16_t v) {
    return bytes_of(static_cast<std::uint32_t>(std::lround(v / 256.0) + 128), 1);
  };
  const struct {
    const char* name;
    std::string bytes;  // empty: written by libsndfile
    int sndfile_format;
    double hz, amplitude;  // tolerances: absolute, relative
  } cases[] = {
      {"int16.wav", test::wave(s), 0, 0, 0},
      {"int24.wav", wave_of({s}, 24, 1, -1, int24), 0, 0.001, 0.0005},
      {"float.wav", wave_of({s}, 32, 3, -1, float32), 0, 0.001, 0.0005},
      {"extensible.wav", wave_of({s}, 24, 0xFFFE, 1, int24), 0, 0.001, 0.0005},
      {"stereo.wav", wave_of({quiet, s}, 24, 1, -1, int24), 0, 0.001, 0.0005},
      {"uint8.wav", wave_of({s}, 8, 1, -1, uint8), 0, 0.01, 0.01},
      {"flac.flac", "", 0x170002, 0.001, 0.0005},  // SF_FORMAT_FLAC | SF_FORMAT_PCM_16
      {"aiff.aiff", "", 0x020002, 0.001, 0.0005},  // SF_FORMAT_AIFF | SF_FORMAT_PCM_16
      {"mp3.mp3", "", 0x230082, 0.01, 0.01},       // SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III
  };
  json original;
  for (const auto& c : cases) {
    if (c.bytes.empty()) {
#if defined(TONEPRINT_HAVE_SNDFILE)
      ASSERT_TRUE(write_with_sndfile(dir.file(c.name), c.sndfile_format, s)) << c.name;
#else
      continue;
#endif
    } else {
      dir.write(c.name, c.bytes);
    }
    const std::string channel = c.name == std::string("stereo.wav") ? "--channel 2 " : "";
    const json document = analysed(dir, channel + dir.file(c.name));
    EXPECT_EQ(document["channel"], channel.empty() ? "mix" : "2");
    const json& recording = document["recordings"][0];
    EXPECT_EQ(recording["file"], dir.file(c.name));
    EXPECT_EQ(recording["settings"]["fft_size"], 8192) << "the default above 22050 Hz";
    const json& tones = recording["tones"];
    if (original.is_null()) original = tones;
    ASSERT_EQ(tones.size(), 3u) << c.name;
    for (std::size_t i = 0; i < tones.size(); ++i) {
      EXPECT_EQ(tones[i]["measured"].size(), tones[i]["passes"]) << c.name << " tone " << i;
      EXPECT_TRUE(tones[i]["failed"].is_array()) << c.name << " tone " << i;
      EXPECT_NEAR(tones[i]["frequency_hz"].get<double>(), original[i]["frequency_hz"], c.hz)
          << c.name << " tone " << i;
      for (std::size_t k = 0; k < 5; k += 2) {
        const double expected = original[i]["harmonics"][k];
        EXPECT_NEAR(tones[i]["harmonics"][k].get<double>(), expected, expected * c.amplitude)
            << c.name << " tone " << i << " h" << k;
      }
    }
  }
}

// Exit statuses: 2 for a usage error before any work, 1 when a recording
// cannot be read (the others are still analysed) or the output cannot be
// written, 0 otherwise; the message names what went wrong.
TEST(Batch, ExitStatusesAndMessagesSayWhatWentWrong) {
  const test::TempDir dir;
  const std::string good = dir.write("good.wav", test::wave(three_tones()));
  const std::string existing = dir.write("existing.out", "kept\n");  // no format in its name
  const std::string quiet =
      dir.write("quiet.wav", test::wave(std::vector<std::int16_t>(8000, 1000)));
  const std::string silent = dir.write("silent.wav", test::wave(std::vector<std::int16_t>(800, 0)));
  const std::string demo_report = test::read_file(TONEPRINT_SOURCE_DIR "/demo/expected-report.txt");
  const struct {
    std::string arguments;
    int status;
    const char* message;  // a part of the console's text
    const char* output;   // a part of the output file, or null when not checked
  } cases[] = {
    {"--version", 0, "toneprint-batch " TONEPRINT_VERSION "\nReads WAVE files", nullptr},
    {"--help", 0, "  --harmonics N               Harmonics measured above the fundamental [default 10, 0 to 50]\n", nullptr},
    {"--bogus " + good, 2, "--bogus", nullptr},
    {"--harmonics 51 " + good, 2, "--harmonics: 51 is not within 0 to 50\n", nullptr},
    {"--hop 16385 " + good, 2, "--hop: 16385 is not within 1 to 16384\n", nullptr},
    {"--fft-size 3000 " + good, 2, "--fft-size", nullptr},
    {"--fft-size 2048 --hop 2049 " + good, 2, "longer than --fft-size 2048", nullptr},
    {"--channel left " + good, 2, "neither a channel number", nullptr},
    {"-q", 2, "no recording", nullptr},
    {"-f classic " + good + " " + good, 2, "a single recording", nullptr},
    {"-o " + existing + " " + good, 2, "exists; --force replaces it", "kept\n"},
    {"-o " + good + " --force " + good, 2, "one of the recordings", nullptr},
    {"--hop 9000 " + good, 1, "longer than the FFT size 8192", nullptr},
    {"--channel 2 " + good, 1, "channel 2 asked for; the recording has 1", nullptr},
#if !defined(_WIN32)
    {"-o /dev/full " + good, 1, "could not be written completely", nullptr},
#endif
    // A recording without a tone is no error, but the reason is given.
    {"-q " + quiet, 0,
     "quiet.wav: no tone: the loudest sample, 1000 (-30.3 dBFS), is not above the silence "
     "threshold 3200 (-20.2 dBFS); try --robust or --threshold 112",
     nullptr},
    {"-q " + silent, 0,
     "silent.wav: no tone: the loudest sample, 0 (-inf dBFS), is not above the silence "
     "threshold 3200 (-20.2 dBFS); try --robust or --threshold 1",
     nullptr},
    // A page whose section of an unreadable recording says why.
    {"-o " + existing + " --force -f html " + dir.file("missing.wav") + " " + good, 1,
     "missing.wav: cannot open", "<p class=\"error\">cannot open"},
    // 220 Hz is A3 + 101.27 cents above A4 = 415 Hz: A#3 + 1.27 cents.
    {"-o " + existing + " --force --a4 415 " + good, 0, "",
     "good.wav,1,0.500000,1.500000,2,2,220.000,A#3,1.27,0.00,9000.0,9000.0,0.0,4000.0,0.0,1500.0,"},
    {"-o " + existing + " --force " + good + " " + dir.file("missing.wav") + " " + good, 1,
     "missing.wav: cannot open", "good.wav,3,3.500000,4.500000,2,2,493.880,B4,-0.01,"},
  };
  for (const auto& c : cases) {
    const test::ProgramRun run = test::run_program(TONEPRINT_BATCH_BINARY, c.arguments,
                                                   dir.write("input", ""), dir.file("console"));
    EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.console;
    EXPECT_NE(run.console.find(c.message), std::string::npos) << c.arguments << "\n" << run.console;
    if (c.output != nullptr) {
      EXPECT_NE(test::read_file(existing).find(c.output), std::string::npos) << c.arguments;
    }
  }
  // The last run still analysed both good recordings.
  const std::string csv = test::read_file(existing);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 7) << csv;
#if !defined(_WIN32)
  // An output that is a link stays one; the file it names is replaced.
  const std::string link = dir.file("link.csv");
  std::filesystem::create_symlink(existing, link);
  test::run_program(TONEPRINT_BATCH_BINARY, "--harmonics 1 --force -o " + link + " " + good,
                    dir.write("input", ""), dir.file("console"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(test::read_file(existing).rfind(
                "file,tone,start_s,end_s,passes,passes_used,frequency_hz,note,"
                "cents,spread_cents,max_fundamental,h0,h1,harmonics_used,centroid_hz,"
                "centroid_harmonic,odd_even_db,t1,t2,t3,slope_db_per_octave\n",
                0),
            0u);
#endif
}

// A folder stands for its audio files in name order, whatever the jobs
// (names that every build reads: WAVE under its two extensions).
TEST(Batch, AFolderGivesItsRecordingsInNameOrder) {
  const test::TempDir dir;
  std::filesystem::create_directory(dir.file("takes"));
  const std::string tones = test::wave(three_tones());
  for (const char* name : {"takes/c.wav", "takes/A.WAV", "takes/b.wave", "takes/notes.txt"}) {
    dir.write(name, tones);
  }
  const test::ProgramRun run = test::run_program(
      TONEPRINT_BATCH_BINARY, "-j 3 " + dir.file("takes"), dir.write("input", ""), dir.file("out"));
  EXPECT_EQ(run.status, 0) << run.console;
  const std::size_t a = run.console.find("A.WAV,3,"), b = run.console.find("b.wave,1,"),
                    c = run.console.find("c.wav,1,");
  EXPECT_TRUE(a < b && b < c && c != std::string::npos) << run.console;
  EXPECT_EQ(run.console.find("notes.txt"), std::string::npos) << run.console;
}

// A tone too short to measure has empty pitch columns, a harmonic above half
// the sample rate an empty cell, and a file name with a quote or a comma is
// quoted.
TEST(Batch, CsvCellsOfShortTonesHighHarmonicsAndAwkwardNames) {
  const test::TempDir dir;
  std::vector<std::int16_t> samples(rate, 0);  // 0.3 s of 220 Hz at 0.5 s
  const std::vector<double> tone = test::synthesise({220, {{1, 9000, 0}}}, rate, 3 * rate / 10);
  std::copy(tone.begin(), tone.end(), samples.begin() + rate / 2);
  // The name as a shell (or Windows) takes it, and as the CSV quotes it.
#if defined(_WIN32)
  const std::string name = "short, take.wav";
  const std::string path = dir.write(name, test::wave(samples));
  const std::string argument = std::string(1, '"').append(path).append("\""), quoted = argument;
#else
  const std::string name = "short \"take\", 1.wav";
  const std::string path = dir.write(name, test::wave(samples));
  const std::string argument = std::string(1, '\'').append(path).append("'");
  const std::string quoted =
      std::string(1, '"').append(dir.file("short \"\"take\"\", 1.wav")).append("\"");
#endif
  const std::string good = dir.write("good.wav", test::wave(three_tones()));
  const std::string out = dir.file("out.csv");
  const test::ProgramRun run = test::run_program(
      TONEPRINT_BATCH_BINARY, "--harmonics 50 -o " + out + " " + argument + " " + good,
      dir.write("input", ""), dir.file("console"));
  EXPECT_EQ(run.status, 0) << run.console;
  const std::string csv = test::read_file(out);
  EXPECT_NE(csv.find(std::string("\n").append(quoted).append(",1,0.500")), std::string::npos)
      << csv;
  // An unmeasured tone: empty pitch, harmonic and timbre cells.
  EXPECT_NE(csv.find(",0" + std::string(5 + 51 + 8, ',') + "\n"), std::string::npos) << csv;
  // 493.88 Hz: harmonic indices 44 and up (45 f0 and up) lie above 22050 Hz.
  std::string measured = ",493.880,B4,-0.01,0.00,9000.0,9000.0,0.0,4000.0,0.0,1500.0";
  for (int k = 5; k <= 43; ++k) measured += ",0.0";
  // ... and are left out of the timbre descriptors, which used the 44 below.
  EXPECT_NE(csv.find(measured + ",,,,,,,,44,"), std::string::npos) << csv;
}

#if !defined(_WIN32)
// A file name is bytes on Linux, which need not be UTF-8; JSON text must
// be, so such a name is written with U+FFFD in place of the bytes, and
// the run still succeeds.
TEST(Batch, JsonOfAFileNameThatIsNotUtf8) {
  const test::TempDir dir;
  const std::string path = dir.write("take-\xff\xfe.wav", test::wave(three_tones()));
  const json document = analysed(dir, "'" + path + "'");
  const json& recording = document["recordings"][0];
  EXPECT_EQ(recording["file"], dir.file("take-\xEF\xBF\xBD\xEF\xBF\xBD.wav"));
  EXPECT_EQ(recording["tones"].size(), 3u);
}
#endif
