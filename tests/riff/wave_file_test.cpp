#include "riff/wave_file.h"

#include "support/test_support.h"

using namespace toneprint;

using test::chunk;
using test::fmt_chunk;
using test::pcm;
using Samples = std::vector<std::int16_t>;

// The shapes that recorders and editors write, and what is read from them,
// are replayed from tests/corpus (through the chunk walk of RiffFile too);
// these tests hold the reader's own rules.
class WaveFileTest : public ::testing::Test {
 protected:
  bool open(const std::string& chunks) {
    return wave_.open_read(dir_.write("t.wav", test::riff("WAVE", chunks)).c_str());
  }
  // The samples from the read position until read_sample fails.
  Samples read_all() {
    Samples values;
    for (std::int16_t value = 0; wave_.read_sample(value);) values.push_back(value);
    return values;
  }
  test::TempDir dir_;
  WaveFile wave_;
};

TEST_F(WaveFileTest, DecodesTheFormatAndKeepsItAndTheLastMessageThroughAFailedOpen) {
  ASSERT_TRUE(open(fmt_chunk(1, 48000) + chunk("data", pcm({1, -2, 32767, -32768}))));
  EXPECT_EQ((std::vector<std::int64_t>{wave_.format_tag(), wave_.channels(), wave_.block_align(),
                                       wave_.bits_per_sample(), wave_.sample_rate(),
                                       wave_.byte_rate(), wave_.data_length(), wave_.data_start()}),
            (std::vector<std::int64_t>{1, 1, 2, 16, 48000, 96000, 8, 44}));
  EXPECT_EQ(read_all(), (Samples{1, -2, 32767, -32768}));
  EXPECT_STREQ(wave_.error(), "Couldn't read samples");
  EXPECT_FALSE(open(fmt_chunk(2, 11025)));
  EXPECT_STREQ(wave_.error(), "Couldn't find data chunk");
  EXPECT_EQ(wave_.sample_rate(), 11025u) << "what it decoded stays";
  EXPECT_FALSE(wave_.is_open());
  ASSERT_TRUE(open(fmt_chunk() + chunk("data", pcm({3}))));
  EXPECT_STREQ(wave_.error(), "Couldn't find data chunk") << "a success clears no message";
  EXPECT_FALSE(wave_.open_read(dir_.file("missing.wav").c_str()));
  EXPECT_EQ(read_all(), Samples{}) << "nothing is read from the file opened before";
  char byte = 0;
  EXPECT_FALSE(wave_.read_raw(&byte, 1) || wave_.skip_forward(0) || wave_.skip_back(0));
  EXPECT_EQ(wave_.samples_remaining(), 0u);
  ASSERT_TRUE(open(fmt_chunk(1, 8000, 8) + chunk("data", "\x80\x81")));
  EXPECT_EQ(read_all(), Samples{});
  EXPECT_STREQ(wave_.error(), "Sample size mismatch");
}

TEST_F(WaveFileTest, SkipsStayInsideTheDataChunkAndOnWholeSamples) {
  // Found by fuzzing: a failed read of an odd last byte consumed it, and
  // every later skip landed between two samples. The data ends in such a
  // byte, cut off by the chunk's size (11, a chunk follows) or by the end of
  // the file (declared 19).
  for (const std::string& after : {std::string("\0JUNK\4\0\0\0abcd", 13), std::string()}) {
    const std::string data = pcm({0, 1, 2, 3, 4}) + "\x7F";
    ASSERT_TRUE(
        open(fmt_chunk() + test::chunk_declaring("data", after.empty() ? 19 : 11, data) + after));
    // Each step: a skip (+ forward, - back) of n samples, whether it moves,
    // and the sample read next (-1: none, the read fails).
    const int steps[][4] = {{'-', 1, 0, 0},  {'+', 4, 0, 1},  {'+', 2, 1, 4},
                            {'+', 0, 0, -1}, {'-', 6, 0, -1}, {'-', 5, 1, 0},
                            {'-', 0, 1, 1},  {'+', 1, 1, 3},  {'+', 0, 1, 4}};
    for (const auto& [direction, n, moves, next] : steps) {
      const auto count = static_cast<std::uint32_t>(n);
      EXPECT_EQ(direction == '+' ? wave_.skip_forward(count) : wave_.skip_back(count), moves == 1)
          << static_cast<char>(direction) << n << " at sample " << wave_.sample_position();
      std::int16_t value = -1;
      EXPECT_EQ(wave_.read_sample(value) ? value : -1, next)
          << "after " << static_cast<char>(direction) << n;
    }
  }
}

TEST_F(WaveFileTest, RecordingsOfMoreThanTwoGibibytesAreRead) {
  // A sparse file: the header, 2.5 GiB of data that occupy no disk space,
  // and three known samples at the very end.
  constexpr std::uint64_t bytes = 2'684'354'560;
  const auto samples = static_cast<std::uint32_t>(bytes / 2);
  const std::string path = dir_.write(
      "long.wav",
      test::chunk_declaring("RIFF", static_cast<std::uint32_t>(36 + bytes),
                            "WAVE" + fmt_chunk() + test::chunk_declaring("data", samples * 2, "")));
  std::error_code error;
  std::filesystem::resize_file(path, 44 + bytes - 6, error);
  if (error)
    GTEST_SKIP() << "this file system cannot make a 2.5 GiB sparse file: " << error.message();
  std::FILE* file = std::fopen(path.c_str(), "ab");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::fwrite(pcm({-1, 12345, -12345}).data(), 1, 6, file), 6u);
  ASSERT_EQ(std::fclose(file), 0);
  ASSERT_TRUE(wave_.open_read(path.c_str())) << wave_.error();
  EXPECT_FALSE(wave_.skip_forward(samples));
  ASSERT_TRUE(wave_.skip_forward(samples - 3));
  EXPECT_EQ(read_all(), (Samples{-1, 12345, -12345}));
  EXPECT_TRUE(wave_.skip_back(samples));
  std::int16_t first = -1;
  EXPECT_TRUE(wave_.read_sample(first) && first == 0);
}
