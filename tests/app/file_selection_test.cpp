#include "app/file_selection.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "support/program_run.h"
#include "support/riff_builder.h"
#include "support/temp_dir.h"

namespace toneprint {
namespace {

// Dialogs that answer from a script: each open or save dialog takes the next
// answer (a path, or nullopt to cancel) and notes what it was shown.
class ScriptedDialogs final : public FileDialogs {
 public:
  struct Shown {
    std::string title;
    std::string proposed;
    std::uint32_t flags;
    std::string default_extension;
    std::size_t filter_count;
  };

  std::deque<std::optional<std::string>> open_answers;
  std::deque<std::optional<std::string>> save_answers;
  std::vector<Shown> shown;
  std::vector<std::string> messages;

  bool open_file(const DialogRequest& request, std::string& path) override {
    return answer(request, path, open_answers);
  }
  bool save_file(const DialogRequest& request, std::string& path) override {
    return answer(request, path, save_answers);
  }
  void message_box(const char* text, const char* caption) override {
    messages.push_back(std::string(caption) + ": " + text);
  }

 private:
  bool answer(const DialogRequest& request, std::string& path,
              std::deque<std::optional<std::string>>& answers) {
    shown.push_back(
        {request.title, path, request.flags, request.default_extension, request.filters.size()});
    if (answers.empty() || !answers.front()) return false;
    path = *answers.front();
    answers.pop_front();
    return true;
  }
};

class FileSelection : public ::testing::Test {
 protected:
  FileSelection()
      : recording_(dir_.write("flute.wav", test::mono16_wave({1, 2, 3}))),
        not_wave_(dir_.write("notes.txt", "just some text")) {}

  ~FileSelection() override {
    if (report_ != nullptr) std::fclose(report_);
  }

  test::TempDir dir_;
  std::string recording_;
  std::string not_wave_;
  WaveFile wave_;
  std::FILE* report_ = nullptr;
  ScriptedDialogs dialogs_;
};

TEST_F(FileSelection, ChoosesTheRecordingThenProposesAReportNamedAfterIt) {
  dialogs_.open_answers = {recording_};
  dialogs_.save_answers = {dir_.file("flute.txt")};
  ASSERT_TRUE(select_files(wave_, report_, dialogs_));
  EXPECT_TRUE(wave_.is_open());
  ASSERT_NE(report_, nullptr);
  EXPECT_TRUE(dialogs_.messages.empty());

  ASSERT_EQ(dialogs_.shown.size(), 2u);
  EXPECT_EQ(dialogs_.shown[0].title, "Select the recorded sample");
  EXPECT_EQ(dialogs_.shown[0].proposed, "");
  EXPECT_EQ(dialogs_.shown[0].flags, 0x1000u);
  EXPECT_EQ(dialogs_.shown[0].filter_count, 2u);
  EXPECT_EQ(dialogs_.shown[1].title, "Enter a filename for the output");
  EXPECT_EQ(dialogs_.shown[1].proposed, "flute");
  EXPECT_EQ(dialogs_.shown[1].flags, 0x8002u);
  EXPECT_EQ(dialogs_.shown[1].default_extension, "txt");
  EXPECT_TRUE(std::filesystem::exists(dir_.file("flute.txt")));
}

TEST_F(FileSelection, FileThatIsNotAWaveBringsAWarningAndTheDialogAgain) {
  dialogs_.open_answers = {not_wave_, recording_};
  dialogs_.save_answers = {dir_.file("out.txt")};
  ASSERT_TRUE(select_files(wave_, report_, dialogs_));
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{
                                   "Error: The selected file could not be opened as a wave file."});
  ASSERT_EQ(dialogs_.shown.size(), 3u);
  EXPECT_EQ(dialogs_.shown[1].proposed, not_wave_);  // the path that failed, proposed again
}

TEST_F(FileSelection, CancellingEitherDialogEndsTheSelection) {
  dialogs_.open_answers = {std::nullopt};
  EXPECT_FALSE(select_files(wave_, report_, dialogs_));

  ScriptedDialogs after_a_failure;
  after_a_failure.open_answers = {not_wave_, std::nullopt};
  EXPECT_FALSE(select_files(wave_, report_, after_a_failure));
  EXPECT_EQ(after_a_failure.messages.size(), 1u);

  ScriptedDialogs save_cancelled;
  save_cancelled.open_answers = {recording_};
  save_cancelled.save_answers = {std::nullopt};
  EXPECT_FALSE(select_files(wave_, report_, save_cancelled));
  EXPECT_EQ(report_, nullptr);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                          std::filesystem::directory_iterator()),
            2);  // no report file was created
}

TEST_F(FileSelection, TheRecordingIsNeverTheReport) {
  const std::string before = test::read_bytes(recording_);
  const std::string link = dir_.file("link.wav");
  std::error_code no_links;
  std::filesystem::create_symlink(recording_, link, no_links);
  const std::string other_spelling = (dir_.path() / "." / "flute.wav").string();

  dialogs_.open_answers = {recording_};
  dialogs_.save_answers = {recording_, other_spelling};
  if (!no_links) dialogs_.save_answers.push_back(link);
  dialogs_.save_answers.push_back(dir_.file("flute.txt"));
  ASSERT_TRUE(select_files(wave_, report_, dialogs_));

  EXPECT_EQ(dialogs_.messages.size(), no_links ? 2u : 3u);
  for (const std::string& message : dialogs_.messages) {
    EXPECT_EQ(message, "Error: The selected file could not be opened for output.");
  }
  EXPECT_EQ(test::read_bytes(recording_), before);
}

TEST_F(FileSelection, UnwritableReportBringsAWarningAndTheSaveDialogAgain) {
  dialogs_.open_answers = {recording_};
  dialogs_.save_answers = {dir_.file("no-such-folder/out.txt"), dir_.file("out.txt")};
  ASSERT_TRUE(select_files(wave_, report_, dialogs_));
  EXPECT_EQ(dialogs_.messages,
            std::vector<std::string>{"Error: The selected file could not be opened for output."});
  EXPECT_EQ(dialogs_.shown.back().proposed, dir_.file("no-such-folder/out.txt"));
}

TEST(ProposedReportName, DropsTheFolderAndTheLastExtension) {
  EXPECT_EQ(proposed_report_name("/rec/flute.wav"), "flute");
  EXPECT_EQ(proposed_report_name("/rec/a.b.wav"), "a.b");
  EXPECT_EQ(proposed_report_name("/rec/take1"), "take1");
  EXPECT_EQ(proposed_report_name("/rec/take."), "take.");
  EXPECT_EQ(proposed_report_name("flute.wav"), "flute");
  EXPECT_EQ(proposed_report_name("/rec.d/take1"), "take1");
#if defined(_WIN32)
  EXPECT_EQ(proposed_report_name("C:\\rec\\flute.wav"), "flute");
  EXPECT_EQ(proposed_report_name("C:flute.wav"), "flute");
#endif
}

}  // namespace
}  // namespace toneprint
