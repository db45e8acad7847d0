#include <cstring>
#include <thread>

#include "readers/recording.h"
#include "readers/wave_source.h"
#include "support/test_support.h"

#if defined(TONEPRINT_HAVE_SNDFILE)
#include <sndfile.h>
#endif

using namespace toneprint;

namespace {

// clang-format off
struct Encoding {
  std::uint16_t tag; int subformat; std::uint16_t bits; std::uint16_t channels;
  std::uint32_t choice;  // the channel read, 0 for the mean
  const char* format;    // container and sample type as the reader names them
  int sndfile = 0;       // libsndfile's format code, to write other containers than WAVE
};
// clang-format on

template <class T>
std::string bytes_of(T value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

// A 32-bit value as the encoding stores it (its top bits, or as a fraction
// of full scale 2^31), and what that stands for on the 16-bit scale.
std::pair<std::string, double> stored(const Encoding& e, std::int32_t s) {
  const int container = (e.bits + 7) / 8;
  if (e.tag == 3 || e.subformat == 3) {
    if (e.bits == 64) return {bytes_of(std::ldexp(s, -31)), std::ldexp(s, -16)};
    const auto f = static_cast<float>(std::ldexp(s, -31));
    return {bytes_of(f), std::ldexp(static_cast<double>(f), 15)};
  }
  const std::int32_t v = s >> (32 - 8 * container);
  return {bytes_of(v + (container == 1 ? 128 : 0)).substr(0, container),
          std::ldexp(v, 16 - 8 * container)};
}

// Writes a recording of the signal in the last channel and its complement
// in the others (a WAVE file ends in a part of a frame more); adds the values
// to be read to `values`.
std::string write(const test::TempDir& dir, const Encoding& e,
                  const std::vector<std::int32_t>& signal, std::vector<double>& values) {
  std::string data;
  std::vector<int> interleaved;
  for (const std::int32_t s : signal) {
    double sum = 0;
    for (std::uint32_t channel = 1; channel <= e.channels; ++channel) {
      interleaved.push_back(channel == e.channels ? s : ~s);
      const auto [bytes, value] = stored(e, interleaved.back());
      data += bytes;
      if (e.choice == 0 || e.choice == channel) sum += value;
    }
    values.push_back(e.choice == 0 ? sum / e.channels : sum);
  }
  const std::string path = dir.file(e.format);
#if defined(TONEPRINT_HAVE_SNDFILE)
  SF_INFO info{0, 8000, e.channels, e.sndfile, 0, 0};
  if (SNDFILE* const file = e.sndfile != 0 ? sf_open(path.c_str(), SFM_WRITE, &info) : nullptr) {
    EXPECT_EQ(sf_writef_int(file, interleaved.data(), std::ssize(signal)), std::ssize(signal));
    sf_close(file);
    return path;
  }
#endif
  data.append(data.size() / signal.size() - 1, '\x7F');
  return dir.write(
      e.format, test::riff("WAVE", test::fmt_chunk(e.channels, 8000, e.bits, e.tag, e.subformat) +
                                       test::chunk("data", data)));
}

}  // namespace

TEST(ReadRecording, EveryEncodingGivesTheSixteenBitScaleInBlocksOfAnySize) {
  // Extremes, then enough noise that no reader's block holds it all.
  std::vector<std::int32_t> signal = {0, INT32_MIN, INT32_MAX, 0x12345678, -0x0ABCDEF1};
  std::mt19937 random(5);
  while (signal.size() < 20000) signal.push_back(static_cast<std::int32_t>(random()));
  // clang-format off
  const Encoding encodings[] = {
      {1, -1, 8, 1, 0, "WAVE uint8"},       {1, -1, 16, 1, 0, "WAVE int16"},
      {1, -1, 24, 1, 1, "WAVE int24"},      {1, -1, 32, 1, 0, "WAVE int32"},
      {3, -1, 32, 1, 0, "WAVE float32"},    {3, -1, 64, 1, 0, "WAVE float64"},
      {0xFFFE, 1, 24, 1, 0, "WAVE int24"},  {0xFFFE, 3, 32, 1, 0, "WAVE float32"},
      {1, -1, 12, 1, 0, "WAVE int16"},      {1, -1, 16, 2, 2, "WAVE int16"},
      {1, -1, 24, 3, 0, "WAVE int24"},
      // Written through libsndfile: FLAC of 24 bits, AIFF of 16.
      {1, -1, 24, 2, 2, "FLAC int24", 0x170003}, {1, -1, 16, 2, 0, "AIFF int16", 0x020002},
  };
  // clang-format on
  test::TempDir dir;
  for (const Encoding& e : encodings) {
    const std::string row = std::string(e.format) + " in " + std::to_string(e.bits) + " bits";
    if (e.sndfile != 0 && sndfile_version().empty()) GTEST_SKIP() << "built without libsndfile";
    std::vector<double> expected, values;
    std::string error;
    const auto source = open_recording(write(dir, e, signal, expected), {e.choice}, error);
    ASSERT_NE(source, nullptr) << row << ": " << error;
    // Blocks of odd sizes, until one that the recording does not fill.
    std::size_t block = 1;
    for (std::size_t got = block; got == block; values.resize(values.size() - block + got)) {
      block = block * 7 % 9973;
      values.resize(values.size() + block);
      got = source->read(std::span(values).last(block));
    }
    EXPECT_EQ(values, expected) << row;
    EXPECT_EQ(source->read(values), 0u) << row << " read after its end";
    EXPECT_EQ(source->error(), "") << row;
    const RecordingFormat& f = source->format();
    EXPECT_EQ(f.container + " " + f.sample_type + " " + std::to_string(f.sample_rate) + " " +
                  std::to_string(f.channels) + " " + std::to_string(f.frames),
              std::string(e.format) + " 8000 " + std::to_string(e.channels) + " 20000")
        << row;
    EXPECT_FALSE(f.unity_note.has_value()) << row << " holds no sampler chunk";
    EXPECT_EQ(open_recording(dir.file(e.format), {e.channels + 1u}, error), nullptr) << row;
    EXPECT_EQ(error, "channel " + std::to_string(e.channels + 1) +
                         " asked for; the recording has " + std::to_string(e.channels));
    WaveFile wave;
    if (e.sndfile != 0 || !wave.open_read(dir.file(e.format).c_str())) continue;
    EXPECT_EQ(
        std::to_string(wave.valid_bits_per_sample()) + "/" + std::to_string(wave.channel_mask()),
        e.subformat < 0 ? "0/0" : std::to_string(e.bits) + "/63")
        << row;
    // Cut short while it is read: the reading stops there and says why.
    WaveSource cut(wave, wave_encoding(wave, error).value(), {e.choice});
    std::filesystem::resize_file(dir.file(e.format), wave.data_start() + wave.data_bytes() / 2);
    EXPECT_LT(cut.read(values), signal.size()) << row;
    EXPECT_NE(cut.error(), "") << row;
  }
}

TEST(ReadRecording, NonFiniteFloatsBecomeZeroAndAnExplicitEncodingOverridesTheFormatChunk) {
  const std::string doubles =
      bytes_of(1e308) + bytes_of(-0.5) + bytes_of(double{INFINITY}) + bytes_of(double{NAN});
  test::TempDir dir;
  WaveFile wave;
  ASSERT_TRUE(wave.open_read(
      dir.write("t.wav",
                test::riff("WAVE", test::fmt_chunk(1, 8000, 64, 3) + test::chunk("data", doubles)))
          .c_str()));
  std::vector<double> values(4);
  EXPECT_EQ(WaveSource(wave, {WaveEncoding::Kind::ieee_float, 64, 1}, {}).read(values), 4u);
  EXPECT_EQ(values, (std::vector<double>{0, -16384, 0, 0}));
  // The bytes of -0.5 as mono 16-bit samples, from the read position on.
  ASSERT_TRUE(wave.skip_back(12));
  EXPECT_EQ(WaveSource(wave, WaveEncoding{}, {}).read(values), 4u);
  EXPECT_EQ(values, (std::vector<double>{0, 0, 0, static_cast<std::int16_t>(0xBFE0)}));
  EXPECT_EQ(WaveSource(wave, {WaveEncoding::Kind::ieee_float, 16, 1}, {}).read(values), 0u)
      << "a refused encoding reads nothing";
}

TEST(ReadRecording, RefusesWhatItCannotReadAndSaysWhat) {
  using test::fmt_chunk;
  const auto wave = [](const std::string& format) {
    return test::riff("WAVE", format + test::chunk("data", test::pcm({1, 2})));
  };
  // The extensible format's fields with the last byte of its extension cut.
  const std::string cut = test::chunk("fmt ", fmt_chunk(1, 8000, 16, 0xFFFE, 1).substr(8, 39));
  const char* const not_wave = sndfile_version().empty() ? "reads only WAVE files (built without"
                                                         : "libsndfile cannot read the file: ";
  // clang-format off
  const struct { std::string file; std::uint32_t channel; const char* says; } cases[] = {
      {wave(fmt_chunk(1, 8000, 4, 2)), 0, "unsupported WAVE format tag 0x0002"},
      {wave(fmt_chunk(1, 8000, 33)), 0, "33-bit integer samples are not read"},
      {wave(fmt_chunk(1, 8000, 16, 3)), 0, "16-bit IEEE float samples are not read"},
      {wave(fmt_chunk(0)), 0, "the recording declares 0 channels"},
      {test::riff("WAVE", fmt_chunk()), 0, "Couldn't find data chunk"},
      {wave(fmt_chunk(1, 8000, 16, 0xFFFE, 2)), 0, "unsupported subformat 0x0002"},
      {wave(cut), 0, "without its 22-byte extension"},
      {wave(fmt_chunk(1, 0)), 0, "sample rate of 0"},
      {"not a recording", 0, not_wave},
      {"", 0, "cannot open the file: "},  // no file at all
  };
  // clang-format on
  test::TempDir dir;
  std::string error;
  for (const auto& c : cases) {
    const std::string path = c.file.empty() ? dir.file("missing") : dir.write("t", c.file);
    EXPECT_EQ(open_recording(path, {c.channel}, error), nullptr) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST(ReadRecording, TheFirstSamplerChunkNamesTheUnityNoteWhenItsFieldsAreWhole) {
  const auto u32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  // The 36 bytes of fields: manufacturer, product, sample period, unity
  // note, pitch fraction, SMPTE format and offset, loop count, sampler data
  // size.
  const auto fields = [&](std::uint32_t note, std::uint32_t fraction, std::uint32_t loops = 0,
                          std::uint32_t extra = 0) {
    return u32(0x47) + u32(0) + u32(125000) + u32(note) + u32(fraction) + u32(0) + u32(0) +
           u32(loops) + u32(extra);
  };
  const std::string fmt = test::fmt_chunk(1, 8000);
  const std::string data = test::chunk("data", test::pcm({1, -2, 3}));
  const std::string loop = u32(0) + u32(0) + u32(0) + u32(2) + u32(0) + u32(0);
  const auto smpl = [](const std::string& contents) { return test::chunk("smpl", contents); };
  const auto declaring = [](std::uint32_t size, const std::string& contents) {
    return test::chunk_declaring("smpl", size, contents);
  };
  // clang-format off
  // What follows "WAVE", whether the samples are read, and the note (midi
  // -1: none).
  const struct { const char* name; std::string chunks; bool read; int midi; double cents; } cases[] = {
      {"no sampler chunk", fmt + data, true, -1, 0},
      {"note 60 before the data", fmt + smpl(fields(60, 0)) + data, true, 60, 0},
      {"note 69 and a half, one loop, after the data",
       fmt + data + smpl(fields(69, 0x80000000u, 1) + loop), true, 69, 50},
      {"note 127 and a quarter", fmt + smpl(fields(127, 0x40000000u)) + data, true, 127, 25},
      {"note 128", fmt + smpl(fields(128, 0)) + data, true, -1, 0},
      {"note 255", fmt + data + smpl(fields(255, 0)), true, -1, 0},
      {"note 325, whose low byte is 69", fmt + smpl(fields(325, 0)) + data, true, -1, 0},
      {"a loop count beyond the chunk", fmt + smpl(fields(60, 0, 0xFFFFFFFFu)) + data, true, 60, 0},
      {"an odd size, then the pad byte",
       fmt + smpl(fields(62, 0, 0, 1) + "\x7F") + data, true, 62, 0},
      {"cut to 35 bytes (and padded)", fmt + smpl(fields(60, 0).substr(0, 35)) + data, true, -1, 0},
      {"36 declared, 20 at the end of the file",
       fmt + data + declaring(36, fields(60, 0).substr(0, 20)), true, -1, 0},
      {"1000 declared, the fields at the end of the file",
       fmt + data + declaring(1000, fields(64, 0)), true, 64, 0},
      {"1000 declared before the data, which the walk then cannot reach",
       fmt + declaring(1000, fields(64, 0)) + data, false, -1, 0},
      {"two chunks: the first one counts",
       fmt + smpl(fields(60, 0)) + data + smpl(fields(69, 0)), true, 60, 0},
      {"two chunks: a first one without a note",
       fmt + smpl(fields(128, 0)) + smpl(fields(69, 0)) + data, true, -1, 0},
  };
  // clang-format on
  test::TempDir dir;
  WaveFile reopened;  // one file object for every row: no note outlives its file
  for (const auto& c : cases) {
    const std::string path = dir.write("t.wav", test::riff("WAVE", c.chunks));
    std::string error;
    const auto source = open_recording(path, {}, error);
    EXPECT_EQ(reopened.open_read(path.c_str()), c.read) << c.name;
    if (!c.read) {
      EXPECT_EQ(error, "Couldn't find data chunk") << c.name;
      continue;
    }
    EXPECT_EQ(reopened.sampler_note().has_value(), c.midi >= 0) << c.name;
    ASSERT_NE(source, nullptr) << c.name << ": " << error;
    std::vector<double> values(4);
    values.resize(source->read(values));
    EXPECT_EQ(values, (std::vector<double>{1, -2, 3})) << c.name;
    const std::optional<MidiNote> note = source->format().unity_note;
    EXPECT_EQ(note ? std::pair(note->midi, note->cents) : std::pair(-1, 0.0),
              std::pair(c.midi, c.cents))
        << c.name;
  }
}

#if defined(TONEPRINT_HAVE_SNDFILE)
TEST(ReadRecording, WaveFilesOfOtherEncodingsAreDecodedAsTheSameCodecInW64) {
  std::vector<int> signal(4000);
  for (std::size_t i = 0; i < signal.size(); ++i) {
    signal[i] = static_cast<int>(std::lround(0x40000000 * std::sin(0.05 * static_cast<double>(i))));
  }
  // clang-format off
  const struct { int container; int codec; const char* format; } cases[] = {
      {SF_FORMAT_WAV, SF_FORMAT_ALAW, "WAVE alaw"}, {SF_FORMAT_WAV, SF_FORMAT_ULAW, "WAVE ulaw"},
      {SF_FORMAT_WAV, SF_FORMAT_IMA_ADPCM, "WAVE ima-adpcm"},
      {SF_FORMAT_WAVEX, SF_FORMAT_ULAW, "WAVEX ulaw"},  // as the extensible format's subformat
  };
  // clang-format on
  test::TempDir dir;
  for (const auto& c : cases) {
    // The W64 file, which libsndfile always read, is the reference.
    std::vector<double> values[2];
    std::string formats[2];
    for (const int i : {0, 1}) {
      const std::string path = dir.file(c.format + std::to_string(i));
      SF_INFO info{0, 8000, 1, (i == 0 ? c.container : SF_FORMAT_W64) | c.codec, 0, 0};
      SNDFILE* const file = sf_open(path.c_str(), SFM_WRITE, &info);
      ASSERT_NE(file, nullptr) << c.format << ": " << sf_strerror(nullptr);
      EXPECT_EQ(sf_writef_int(file, signal.data(), std::ssize(signal)), std::ssize(signal));
      sf_close(file);
      std::string error;
      const auto source = open_recording(path, {}, error);
      ASSERT_NE(source, nullptr) << c.format << ": " << error;
      EXPECT_EQ(error, "") << c.format;
      values[i].resize(2 * signal.size());
      values[i].resize(source->read(values[i]));
      const RecordingFormat& f = source->format();
      formats[i] = f.container + " " + f.sample_type + " " + std::to_string(f.sample_rate);
    }
    EXPECT_EQ(formats[0], std::string(c.format) + " 8000");
    EXPECT_EQ(values[0], values[1]) << c.format;
    // And it is the signal, within the codec's noise: 30 dB below it.
    ASSERT_GE(values[0].size(), signal.size()) << c.format;
    double noise = 0, power = 0;
    for (std::size_t i = 0; i < signal.size(); ++i) {
      noise += std::pow(values[0][i] - signal[i] / 65536.0, 2);
      power += std::pow(signal[i] / 65536.0, 2);
    }
    EXPECT_LT(noise, 1e-3 * power) << c.format;
  }
}

TEST(ReadRecording, ConcurrentFailedOpensEachGiveTheirOwnReason) {
  // Two files that libsndfile refuses for different reasons, opened over
  // and over at once: each refusal must be the file's own.
  test::TempDir dir;
  const std::string paths[] = {dir.write("text", "not a recording"),
                               dir.write("aiff", std::string("FORM\0\0\0\x20" "AIFFCOMM", 16))};
  std::string first[2];
  for (const int i : {0, 1}) open_recording(paths[i], {}, first[i]);
  ASSERT_NE(first[0], first[1]);
  int mixed_up[2] = {0, 0};
  std::vector<std::thread> threads;
  for (const int i : {0, 1}) {
    threads.emplace_back([&, i] {
      std::string error;
      for (int n = 0; n < 3000; ++n) {
        open_recording(paths[i], {}, error);
        mixed_up[i] += error != first[i];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mixed_up[0] + mixed_up[1], 0) << first[0] << " / " << first[1];
}
#endif
