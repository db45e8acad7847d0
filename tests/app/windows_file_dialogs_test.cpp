// The record that the Windows file dialogs are shown with. The dialogs
// themselves need a desktop and a user, so only their record is checked.

#include <gtest/gtest.h>

#if defined(_WIN32)

#include "app/windows_file_dialogs.h"

using namespace toneprint;

TEST(WindowsFileDialogs, RecordOfTheOpenAndSaveDialogs) {
  char buffer[1024];
  OPENFILENAMEA record;
  clear_dialog_record(record, buffer, sizeof buffer);
  EXPECT_EQ(record.lStructSize, sizeof(void*) == 4 ? 76u : 136u);
  EXPECT_EQ(std::make_tuple(record.nMaxFile, record.lpstrFile, buffer[0], record.hwndOwner,
                            record.lpstrInitialDir, record.nFilterIndex),
            std::make_tuple(DWORD{1024}, buffer, '\0', HWND{}, LPCSTR{}, DWORD{0}));
  // dialog, filter list, title, flags, default extension
  const std::tuple<const DialogRequest*, std::string, const char*, DWORD, const char*> cases[] = {
      {&recording_dialog, std::string("Wave Files (*.wav)\0*.wav\0All Files (*.*)\0*\0\0", 44),
       "Select the recorded sample", 0x1000, nullptr},
      {&report_dialog, std::string("Text Files (*.txt)\0*.txt\0All Files (*.*)\0*\0\0", 44),
       "Enter a filename for the output", 0x8002, "txt"}};
  for (const auto& [request, filters, title, flags, extension] : cases) {
    const std::string list = filter_list(*request);
    prepare_dialog_record(record, *request, list);
    EXPECT_EQ(list, filters);
    EXPECT_EQ(record.lpstrFilter, list.c_str());
    EXPECT_STREQ(record.lpstrTitle, title);
    EXPECT_EQ(record.Flags, flags);
    EXPECT_STREQ(record.lpstrDefExt, extension);
  }
}

#endif
