#include "riff/riff_file.h"

#include "support/test_support.h"

using namespace toneprint;

// What the WAVE reader does not ask of the chunk walk. Malformed forms and
// sizes, which could make a walk circle or run past the form, are replayed
// from tests/corpus through the WAVE reader.
TEST(RiffFile, EntersTheChunkAtThePositionAndLeavesAnyChunkButTheForm) {
  const test::TempDir dir;
  const std::string list = test::chunk("LIST", "INFO" + test::chunk("INAM", "abc"));
  RiffFile riff(dir.write("a.wav", test::riff("WAVE", list + test::chunk("data", "12"))).c_str());
  EXPECT_FALSE(riff.pop()) << "the form";
  ASSERT_TRUE(riff.push(nullptr) && riff.push(nullptr));  // LIST, then INAM in it
  EXPECT_EQ(std::string(riff.chunk_name()) + " " + std::to_string(riff.chunk_size()), "INAM 3");
  EXPECT_TRUE(riff.pop() && riff.pop() && tell(riff.file()) == 36) << "past INAM's pad byte";
  EXPECT_TRUE(riff.push(nullptr) && riff.chunk_sub_type() == nullptr);
  EXPECT_EQ(std::string(riff.chunk_name()) + " " + std::to_string(riff.form_size()), "data 34");
  EXPECT_FALSE(RiffFile(nullptr).rewind()) << "no file";
}

#if defined(__linux__)
// A reader gives its file back when it goes, however far it got: a folder
// of thousands of takes must not run out of file handles.
TEST(RiffFile, GivesItsFileBackWhenDestroyed) {
  const test::TempDir dir;
  const std::string good = dir.write("a.wav", test::riff("WAVE", test::chunk("data", "12")));
  const std::string bad = dir.write("b.wav", "RIFF");
  const auto open_files = [] {
    const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(std::filesystem::begin(entries), std::filesystem::end(entries));
  };
  const auto before = open_files();
  for (int i = 0; i < 8; ++i) {
    RiffFile riff(good.c_str());
    ASSERT_TRUE(riff.push(nullptr));
    const RiffFile broken(bad.c_str());
  }
  EXPECT_EQ(open_files(), before);
}
#endif
