#include "app/file_selection.h"

#include "support/test_support.h"

using namespace toneprint;

// Choosing the files, with every refusal and the dialogs asked again, is
// run end to end with the console's dialogs (end_to_end_test.cpp).
TEST(ProposedReportName, TheFileNameWithoutItsLastExtension) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"/rec/flute.wav", "flute"}, {"/rec/a.b.wav", "a.b"}, {"/rec/take1", "take1"},
      {"/rec/take.", "take."}, {"flute.wav", "flute"}, {"/rec.d/take1", "take1"},
      {"/rec/.wav", ".wav"},
#if defined(_WIN32)
      {"C:\\rec\\flute.wav", "flute"}, {"C:flute.wav", "flute"}, {"C:\\rec.d\\take1", "take1"},
#endif
  };
  // clang-format on
  for (const auto& [path, name] : cases) EXPECT_EQ(proposed_report_name(path), name) << path;
}
