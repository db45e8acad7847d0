#include "riff/wave_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "support/riff_builder.h"
#include "support/temp_dir.h"

namespace toneprint {
namespace {

using test::chunk;
using test::chunk_declaring;
using test::Format;
using test::format_fields;
using test::riff;
using test::samples;
using namespace std::string_literals;

class WaveFileTest : public ::testing::Test {
 protected:
  // Writes the bytes and opens them; the test fails when the open does.
  void open(std::string_view bytes) {
    ASSERT_TRUE(wave_.open_read(dir_.write("take.wav", bytes).c_str())) << wave_.error();
  }

  // Reads samples until read_sample fails.
  std::vector<std::int16_t> read_all() {
    std::vector<std::int16_t> values;
    std::int16_t value = 0;
    while (wave_.read_sample(value)) values.push_back(value);
    return values;
  }

  std::string fmt(const Format& format = {}) { return chunk("fmt ", format_fields(format)); }

  test::TempDir dir_;
  WaveFile wave_;
};

using Samples = std::vector<std::int16_t>;

// The shapes that recorders and editors write (chunk orders, format chunks
// of every size, data sizes that disagree with the file, chunks after the
// data, nonsense header values) are replayed from tests/corpus; these tests
// hold the reader's own rules.

TEST_F(WaveFileTest, OpensAPlainRecordingAndReadsItsSamples) {
  open(riff("WAVE",
            fmt(Format().sample_rate(48000)) + chunk("data", samples({1, -2, 32767, -32768}))));
  EXPECT_EQ(wave_.format_tag(), 1);
  EXPECT_EQ(wave_.channels(), 1);
  EXPECT_EQ(wave_.sample_rate(), 48000u);
  EXPECT_EQ(wave_.byte_rate(), 96000u);
  EXPECT_EQ(wave_.block_align(), 2);
  EXPECT_EQ(wave_.bits_per_sample(), 16);
  EXPECT_EQ(wave_.data_length(), 8u);
  EXPECT_EQ(wave_.data_start(), 12 + 24 + 8);
  EXPECT_EQ(read_all(), (Samples{1, -2, 32767, -32768}));
  EXPECT_STREQ(wave_.error(), "Couldn't read samples");
}

TEST_F(WaveFileTest, OpenFailuresNameWhatIsMissing) {
  struct Case {
    std::string bytes;
    const char* message;
  };
  const std::string data = chunk("data", samples({1}));
  const Case cases[] = {
      {"", "Couldn't open file"},
      {"RIFF" + test::u32le(4), "Couldn't open file"},
      {chunk("JUNK", "WAVE") + fmt() + data, "Couldn't open file"},
      {riff("AVI ", fmt() + data), "Couldn't find RIFF, WAVE, or fmt"},
      {riff("WAVE", data), "Couldn't find RIFF, WAVE, or fmt"},
      {riff("WAVE", fmt(Format().channels(2).sample_rate(11025))), "Couldn't find data chunk"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(wave_.open_read(dir_.write("bad.wav", c.bytes).c_str()));
    EXPECT_STREQ(wave_.error(), c.message);
    EXPECT_FALSE(wave_.is_open());
  }
  // After "Couldn't find data chunk" the format fields describe that file.
  EXPECT_EQ(wave_.channels(), 2);
  EXPECT_EQ(wave_.sample_rate(), 11025u);

  EXPECT_FALSE(wave_.open_read(dir_.file("no-such-file.wav").c_str()));
  EXPECT_STREQ(wave_.error(), "Couldn't open file");
}

TEST_F(WaveFileTest, OpeningAgainClosesFirstAndKeepsTheOldMessage) {
  open(test::mono16_wave({1, 2}));
  EXPECT_FALSE(wave_.open_read(dir_.write("not.wav", "not a wave file").c_str()));
  EXPECT_FALSE(wave_.is_open());
  std::int16_t value = 0;
  EXPECT_FALSE(wave_.read_sample(value));

  open(test::mono16_wave({3}));
  EXPECT_STREQ(wave_.error(), "Couldn't read samples");
  EXPECT_EQ(read_all(), (Samples{3}));
}

TEST_F(WaveFileTest, ReadsAndSkipsWithNoFileOpenFailSafely) {
  std::int16_t value = 0;
  char bytes[4];
  EXPECT_FALSE(wave_.read_sample(value));
  EXPECT_STREQ(wave_.error(), "Couldn't read samples");
  EXPECT_FALSE(wave_.read_raw(bytes, 4));
  EXPECT_FALSE(wave_.skip_forward(0));
  EXPECT_FALSE(wave_.skip_back(0));
}

TEST_F(WaveFileTest, EightBitSamplesAreAMismatch) {
  open(riff("WAVE", fmt(Format().bits(8)) + chunk("data", "\x80\x81\x82\x83")));
  std::int16_t value = 0;
  EXPECT_FALSE(wave_.read_sample(value));
  EXPECT_STREQ(wave_.error(), "Sample size mismatch");
  char bytes[4];
  ASSERT_TRUE(wave_.read_raw(bytes, 4));  // nothing was consumed before
  EXPECT_EQ(bytes[3], '\x83');
}

TEST_F(WaveFileTest, ALastByteThatCannotMakeASampleIsNotOne) {
  open(riff("WAVE", fmt() + chunk_declaring("data", 5, samples({1, 2}) + "\x7F")));
  EXPECT_EQ(read_all(), (Samples{1, 2}));
  EXPECT_STREQ(wave_.error(), "Couldn't read samples");

  // The same cut made by the end of the file.
  open(riff("WAVE", fmt() + chunk_declaring("data", 6, samples({1, 2}) + "\x7F")));
  EXPECT_EQ(read_all(), (Samples{1, 2}));
}

TEST_F(WaveFileTest, AFailedReadOfALastOddByteLeavesSkipsOnSamples) {
  // Found by fuzz_wave_reader (fuzz/regressions/fuzz_wave_reader-odd-last-byte):
  // the failed read consumed the odd byte, and every later skip landed
  // between two samples.
  open(riff("WAVE", fmt() + chunk_declaring("data", 17, samples({0x0300, 0x1234}) + "\x7F")));
  EXPECT_EQ(read_all(), (Samples{0x0300, 0x1234}));
  EXPECT_EQ(wave_.samples_remaining(), 0u);
  ASSERT_TRUE(wave_.skip_back(2));
  std::int16_t value = 0;
  ASSERT_TRUE(wave_.read_sample(value));
  EXPECT_EQ(value, 0x0300);
  ASSERT_TRUE(wave_.read_sample(value));
  EXPECT_EQ(value, 0x1234);
  EXPECT_FALSE(wave_.read_sample(value));
  ASSERT_TRUE(wave_.skip_back(1));
  ASSERT_TRUE(wave_.read_sample(value));
  EXPECT_EQ(value, 0x1234);
}

TEST_F(WaveFileTest, SkipsStayInsideTheDataChunk) {
  const std::string trailer = chunk("JUNK", "abcdefgh");
  open(riff("WAVE", fmt() + chunk("data", samples({0, 1, 2, 3, 4})) + trailer));
  EXPECT_TRUE(wave_.skip_back(0));
  EXPECT_FALSE(wave_.skip_back(1));
  EXPECT_FALSE(wave_.skip_forward(5));  // F frames: nothing would remain
  EXPECT_TRUE(wave_.skip_forward(4));   // F - 1 frames: the last remains
  std::int16_t value = 0;
  ASSERT_TRUE(wave_.read_sample(value));
  EXPECT_EQ(value, 4);
  EXPECT_FALSE(wave_.skip_forward(0));  // at the end nothing remains
  EXPECT_TRUE(wave_.skip_back(5));
  ASSERT_TRUE(wave_.read_sample(value));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(wave_.skip_back(2));
  EXPECT_TRUE(wave_.skip_forward(2));
  ASSERT_TRUE(wave_.read_sample(value));
  EXPECT_EQ(value, 3);

  open(riff("WAVE", fmt() + chunk("data", "\x01")));
  EXPECT_FALSE(wave_.skip_forward(0));
}

TEST_F(WaveFileTest, SkipsCountSamplesWhateverBlockAlignSays) {
  for (const std::uint16_t block_align : {0, 4, 0xFFFF}) {
    open(riff("WAVE",
              fmt(Format().block_align(block_align)) + chunk("data", samples({5, 6, 7, 8}))));
    std::int16_t value = 0;
    ASSERT_TRUE(wave_.read_sample(value));
    ASSERT_TRUE(wave_.read_sample(value));
    ASSERT_TRUE(wave_.read_sample(value));
    EXPECT_TRUE(wave_.skip_back(3)) << "block_align " << block_align;
    ASSERT_TRUE(wave_.read_sample(value));
    EXPECT_EQ(value, 5) << "block_align " << block_align;
    EXPECT_TRUE(wave_.skip_forward(2));
    ASSERT_TRUE(wave_.read_sample(value));
    EXPECT_EQ(value, 8) << "block_align " << block_align;
  }
}

TEST_F(WaveFileTest, RecordingsOfMoreThanTwoGibibytesAreRead) {
  // A sparse file: the header, 2.5 GiB of data that occupy no disk space,
  // and three known samples at the very end.
  constexpr std::uint64_t data_bytes = 2'684'354'560;  // 2.5 GiB
  const std::string header = riff("WAVE", fmt());
  std::string bytes =
      header.substr(0, 4) + test::u32le(static_cast<std::uint32_t>(4 + 24 + 8 + data_bytes)) +
      header.substr(8) + "data" + test::u32le(static_cast<std::uint32_t>(data_bytes));
  const std::string path = dir_.write("long.wav", bytes);
  std::error_code error;
  std::filesystem::resize_file(path, bytes.size() + data_bytes, error);
  if (error)
    GTEST_SKIP() << "this file system cannot make a 2.5 GiB sparse file: " << error.message();
  {
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(seek_to(file, static_cast<FileOffset>(bytes.size() + data_bytes - 6)));
    const std::string tail = samples({-1, 12345, -12345});
    ASSERT_EQ(std::fwrite(tail.data(), 1, tail.size(), file), tail.size());
    ASSERT_EQ(std::fclose(file), 0);
  }

  ASSERT_TRUE(wave_.open_read(path.c_str())) << wave_.error();
  const auto frames = static_cast<std::uint32_t>(data_bytes / 2);
  EXPECT_FALSE(wave_.skip_forward(frames));
  ASSERT_TRUE(wave_.skip_forward(frames - 3));
  EXPECT_EQ(read_all(), (Samples{-1, 12345, -12345}));
  EXPECT_TRUE(wave_.skip_back(frames));
  std::int16_t first = 1;
  ASSERT_TRUE(wave_.read_sample(first));
  EXPECT_EQ(first, 0);
}

}  // namespace
}  // namespace toneprint
