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
