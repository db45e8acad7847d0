// The record that the Windows file dialogs are shown with. The dialogs
// themselves need a desktop and a user, so only their record is checked.

#include <gtest/gtest.h>

#if defined(_WIN32)

#include "app/windows_file_dialogs.h"

namespace toneprint {
namespace {

TEST(WindowsFileDialogs, RecordOfTheOpenAndSaveDialogs) {
  char buffer[1024];
  OPENFILENAMEA record;
  clear_dialog_record(record, buffer, sizeof buffer);
  EXPECT_EQ(record.lStructSize, sizeof(void*) == 4 ? 76u : 136u);
  EXPECT_EQ(record.nMaxFile, 1024u);
  EXPECT_EQ(record.lpstrFile, buffer);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(record.hwndOwner, nullptr);
  EXPECT_EQ(record.lpstrInitialDir, nullptr);
  EXPECT_EQ(record.nFilterIndex, 0u);

  const std::string open_filters = filter_list(recording_dialog);
  EXPECT_EQ(open_filters, std::string("Wave Files (*.wav)\0*.wav\0All Files (*.*)\0*\0\0", 44));
  prepare_dialog_record(record, recording_dialog, open_filters);
  EXPECT_STREQ(record.lpstrTitle, "Select the recorded sample");
  EXPECT_EQ(record.Flags, 0x1000u);
  EXPECT_EQ(record.lpstrDefExt, nullptr);

  const std::string save_filters = filter_list(report_dialog);
  EXPECT_EQ(save_filters, std::string("Text Files (*.txt)\0*.txt\0All Files (*.*)\0*\0\0", 44));
  prepare_dialog_record(record, report_dialog, save_filters);
  EXPECT_STREQ(record.lpstrTitle, "Enter a filename for the output");
  EXPECT_EQ(record.Flags, 0x8002u);
  EXPECT_STREQ(record.lpstrDefExt, "txt");
}

}  // namespace
}  // namespace toneprint

#else

TEST(WindowsFileDialogs, RecordOfTheOpenAndSaveDialogs) {
  GTEST_SKIP() << "the Windows dialogs are built on Windows only";
}

#endif
