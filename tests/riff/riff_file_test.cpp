#include "riff/riff_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

#include "support/riff_builder.h"
#include "support/temp_dir.h"

namespace toneprint {
namespace {

using test::chunk;
using test::chunk_declaring;
using test::riff;
using test::u32le;

class RiffFileTest : public ::testing::Test {
 protected:
  std::string write(std::string_view bytes) { return dir_.write("test.riff", bytes); }
  test::TempDir dir_;
};

FileOffset position(const RiffFile& riff_file) { return tell(riff_file.file()); }

// Runs `step` on a thread of its own; a step that has not finished within
// the limit fails the test and ends the process, so that a walk that would
// circle forever shows up as a failure instead of a stuck test run.
bool finishes_within(std::chrono::seconds limit, const std::function<bool()>& step) {
  std::packaged_task<bool()> task(step);
  std::future<bool> result = task.get_future();
  std::thread(std::move(task)).detach();
  if (result.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << "the chunk walk did not end within " << limit.count() << " s";
    std::fflush(nullptr);
    std::_Exit(1);
  }
  return result.get();
}

TEST_F(RiffFileTest, FilesThatAreNotRiffDoNotOpen) {
  EXPECT_EQ(RiffFile(dir_.file("missing.wav").c_str()).file(), nullptr);
  EXPECT_EQ(RiffFile(write("RIFX" + u32le(4) + "WAVE").c_str()).file(), nullptr);
  EXPECT_EQ(RiffFile(write("RIFF" + u32le(4) + "WAV").c_str()).file(), nullptr);
  EXPECT_EQ(RiffFile(write("").c_str()).file(), nullptr);
}

TEST_F(RiffFileTest, EmptyFormOpensAndHoldsNothing) {
  RiffFile riff_file(write(riff("WAVE", "")).c_str());
  ASSERT_NE(riff_file.file(), nullptr);
  EXPECT_STREQ(riff_file.chunk_name(), "RIFF");
  EXPECT_STREQ(riff_file.chunk_sub_type(), "WAVE");
  EXPECT_EQ(riff_file.form_size(), 0u);
  EXPECT_EQ(position(riff_file), 12);
  EXPECT_FALSE(riff_file.push("fmt "));
}

TEST_F(RiffFileTest, OddSizedChunkIsSteppedOverWithItsPadByte) {
  RiffFile riff_file(write(riff("WAVE", chunk("abcd", "xyz") + chunk("data", "12"))).c_str());
  ASSERT_TRUE(riff_file.push("data"));
  EXPECT_EQ(position(riff_file), 12 + 8 + 3 + 1 + 8);
  EXPECT_EQ(riff_file.chunk_size(), 2u);
  EXPECT_EQ(riff_file.chunk_sub_type(), nullptr);
}

TEST_F(RiffFileTest, ChunkAfterTheFormsDeclaredEndIsNotFound) {
  const std::string bytes = riff("WAVE", chunk("fmt ", "1234")) + chunk("data", "12");
  RiffFile riff_file(write(bytes).c_str());
  EXPECT_TRUE(riff_file.push("fmt "));
  EXPECT_TRUE(riff_file.pop());
  EXPECT_FALSE(riff_file.push("data"));
}

TEST_F(RiffFileTest, FormDeclaringLessThanItsTypeHoldsNothing) {
  RiffFile riff_file(write(chunk_declaring("RIFF", 3, "WAVE" + chunk("data", "12"))).c_str());
  ASSERT_NE(riff_file.file(), nullptr);
  EXPECT_FALSE(riff_file.push("data"));
  EXPECT_FALSE(riff_file.push(nullptr));
}

TEST_F(RiffFileTest, FormDeclaringMoreThanTheFileIsSearchedToTheEnd) {
  // Streaming writers cannot go back to fill in the form's size.
  RiffFile riff_file(
      write(chunk_declaring("RIFF", 0xFFFFFFFF, "WAVE" + chunk("data", "12"))).c_str());
  EXPECT_TRUE(riff_file.push("data"));
  EXPECT_TRUE(riff_file.pop());
  EXPECT_FALSE(riff_file.push("fmt "));
}

TEST_F(RiffFileTest, FailedSearchReturnsToTheStartForTheNextOne) {
  RiffFile riff_file(write(riff("WAVE", chunk("fmt ", "1234") + chunk("data", "12"))).c_str());
  ASSERT_TRUE(riff_file.push("data"));
  ASSERT_TRUE(riff_file.pop());
  EXPECT_FALSE(riff_file.push("cue "));
  EXPECT_EQ(position(riff_file), 12);
  EXPECT_TRUE(riff_file.push("fmt "));
}

TEST_F(RiffFileTest, NullNameEntersTheChunkAtThePosition) {
  RiffFile riff_file(write(riff("WAVE", chunk("JUNK", "ab") + chunk("data", "12"))).c_str());
  ASSERT_TRUE(riff_file.push(nullptr));
  EXPECT_STREQ(riff_file.chunk_name(), "JUNK");
  ASSERT_TRUE(riff_file.pop());
  ASSERT_TRUE(riff_file.push(nullptr));
  EXPECT_STREQ(riff_file.chunk_name(), "data");
}

TEST_F(RiffFileTest, PopLeavesTheChunkButNeverTheForm) {
  RiffFile riff_file(write(riff("WAVE", chunk("abcd", "xyz") + chunk("data", "12"))).c_str());
  EXPECT_FALSE(riff_file.pop());
  ASSERT_TRUE(riff_file.push("abcd"));
  EXPECT_TRUE(riff_file.pop());
  EXPECT_EQ(position(riff_file), 24);
  EXPECT_STREQ(riff_file.chunk_name(), "RIFF");
}

TEST_F(RiffFileTest, NestedListIsEnteredBySuccessivePushes) {
  const std::string list = chunk_declaring("LIST", 4 + 10, "INFO" + chunk("INAM", "ab"));
  RiffFile riff_file(write(riff("WAVE", list + chunk("data", "12"))).c_str());
  ASSERT_TRUE(riff_file.push("LIST"));
  EXPECT_STREQ(riff_file.chunk_sub_type(), "INFO");
  EXPECT_EQ(riff_file.chunk_size(), 10u);
  ASSERT_TRUE(riff_file.push("INAM"));
  EXPECT_EQ(riff_file.chunk_size(), 2u);
  EXPECT_FALSE(riff_file.push("data"));  // not inside INAM
  ASSERT_TRUE(riff_file.pop());
  ASSERT_TRUE(riff_file.pop());
  EXPECT_TRUE(riff_file.push("data"));
}

TEST_F(RiffFileTest, FormTypeStartingWithZeroHasNoSubType) {
  RiffFile riff_file(write(riff(std::string("\0AVE", 4), "")).c_str());
  ASSERT_NE(riff_file.file(), nullptr);
  EXPECT_EQ(riff_file.chunk_sub_type(), nullptr);
}

TEST_F(RiffFileTest, ListShorterThanItsTypeEndsTheSearch) {
  const std::string bytes = riff("WAVE", chunk_declaring("LIST", 2, "INFO") + chunk("data", "12"));
  RiffFile riff_file(write(bytes).c_str());
  EXPECT_FALSE(finishes_within(std::chrono::seconds(10), [&] { return riff_file.push("data"); }));
  EXPECT_EQ(position(riff_file), 12);
}

TEST_F(RiffFileTest, ChildSizeThatWouldWrapInThirtyTwoBitsEndsTheSearch) {
  // At offset 12, start 20 + 0xFFFFFFEC wraps to 12 in 32-bit arithmetic: a
  // reader doing that would read the same header forever.
  const std::string bytes =
      riff("WAVE", chunk_declaring("JUNK", 0xFFFFFFEC, "abcd") + chunk("data", "12"));
  RiffFile riff_file(write(bytes).c_str());
  EXPECT_FALSE(finishes_within(std::chrono::seconds(10), [&] { return riff_file.push("data"); }));
  EXPECT_TRUE(riff_file.push("JUNK"));
}

}  // namespace
}  // namespace toneprint
