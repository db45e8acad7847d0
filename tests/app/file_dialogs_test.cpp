#include "app/file_dialogs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "support/temp_dir.h"

namespace toneprint {
namespace {

const DialogRequest& open_request = recording_dialog;
const DialogRequest& save_request = report_dialog;

TEST(TypedPath, BlanksQuotesAndTheHomeFolder) {
  EXPECT_EQ(normalise_typed_path("  /a/b.wav \t\r", nullptr), "/a/b.wav");
  EXPECT_EQ(normalise_typed_path("'/a/my take.wav' ", nullptr), "/a/my take.wav");
  EXPECT_EQ(normalise_typed_path("\"/a/b.wav\"", nullptr), "/a/b.wav");
  EXPECT_EQ(normalise_typed_path("\"/a/b.wav'", nullptr), "\"/a/b.wav'");
  EXPECT_EQ(normalise_typed_path("~/takes/a.wav", "/home/me"), "/home/me/takes/a.wav");
  EXPECT_EQ(normalise_typed_path("~other/a.wav", "/home/me"), "~other/a.wav");
  EXPECT_EQ(normalise_typed_path("   ", "/home/me"), "");
}

class ConsoleDialogs : public ::testing::Test {
 protected:
  std::string answer_open(const std::string& typed, bool& chosen) {
    ScriptedConsole console(typed);
    ConsoleFileDialogs dialogs(console);
    std::string path;
    chosen = dialogs.open_file(open_request, path);
    output_ = console.output();
    return path;
  }
  std::string answer_save(const std::string& typed, std::string proposed, bool& chosen) {
    ScriptedConsole console(typed);
    ConsoleFileDialogs dialogs(console);
    chosen = dialogs.save_file(save_request, proposed);
    output_ = console.output();
    return proposed;
  }

  test::TempDir dir_;
  std::string output_;
};

TEST_F(ConsoleDialogs, OpenAsksUntilAFileExistsOrNothingIsTyped) {
  const std::string take = dir_.write("take.wav", "x");
  const std::string missing = dir_.file("missing.wav");
  bool chosen = false;
  EXPECT_EQ(answer_open(missing + "\n '" + take + "' \n", chosen), take);
  EXPECT_TRUE(chosen);
  EXPECT_EQ(output_, "Select the recorded sample (path of a .wav file): \nNo such file: " +
                         missing + "\nSelect the recorded sample (path of a .wav file): ");

  answer_open("\n" + take + "\n", chosen);
  EXPECT_FALSE(chosen) << "an empty line cancels";
  answer_open("", chosen);
  EXPECT_FALSE(chosen) << "the end of the input cancels";
  EXPECT_EQ(answer_open(take, chosen), take) << "a last line without its line feed";
  EXPECT_TRUE(chosen);
}

TEST_F(ConsoleDialogs, SaveProposesANameAndAddsTheExtension) {
  bool chosen = false;
  const std::string proposed = dir_.file("flute");
  EXPECT_EQ(answer_save("\n", proposed, chosen), proposed + ".txt");
  EXPECT_TRUE(chosen);
  EXPECT_EQ(output_, "Enter a filename for the output [" + proposed + "]: ");

  EXPECT_EQ(answer_save(dir_.file("other") + "\n", proposed, chosen), dir_.file("other.txt"));
  EXPECT_EQ(answer_save(dir_.file("other.csv") + "\n", proposed, chosen), dir_.file("other.csv"));
  answer_save("", proposed, chosen);
  EXPECT_FALSE(chosen) << "the end of the input cancels";
}

TEST_F(ConsoleDialogs, ExistingFileIsReplacedOnlyAfterYes) {
  const std::string existing = dir_.write("flute.txt", "old report");
  const std::string proposed = dir_.file("flute");
  bool chosen = false;
  EXPECT_EQ(answer_save("\nno\n" + dir_.file("new") + "\n", proposed, chosen),
            dir_.file("new.txt"));
  EXPECT_TRUE(chosen);
  EXPECT_EQ(output_, "Enter a filename for the output [" + proposed + "]: \n" + existing +
                         " exists. Replace it? (yes / no) Enter a filename for the output [" +
                         proposed + "]: ");
  EXPECT_EQ(answer_save("\nyes\n", proposed, chosen), existing);
  EXPECT_TRUE(chosen);
  answer_save("\nno\n", proposed, chosen);
  EXPECT_FALSE(chosen) << "the end of the input after no cancels";
}

TEST_F(ConsoleDialogs, MessageBoxIsAnErrorLine) {
  ScriptedConsole console;
  ConsoleFileDialogs dialogs(console);
  dialogs.message_box("The selected file could not be opened for output.", "Error");
  EXPECT_EQ(console.output(), "\nError: The selected file could not be opened for output.\n");
}

TEST(GraphicalChooser, OnlyForATerminalInAGraphicalSession) {
  const auto with = [](std::initializer_list<const char*> programs) {
    const std::vector<std::string> names(programs.begin(), programs.end());
    return [names](const char* program) {
      return std::find(names.begin(), names.end(), program) != names.end();
    };
  };
  DialogEnvironment e;
  e.input_is_terminal = true;
  e.graphical_session = true;
  e.installed = with({"zenity", "kdialog"});
  EXPECT_EQ(graphical_chooser(e), Chooser::zenity);
  e.installed = with({"kdialog"});
  EXPECT_EQ(graphical_chooser(e), Chooser::kdialog);
  e.installed = with({});
  EXPECT_EQ(graphical_chooser(e), std::nullopt);
  e.installed = with({"zenity"});
  e.input_is_terminal = false;
  EXPECT_EQ(graphical_chooser(e), std::nullopt) << "scripted input gets the console";
  e.input_is_terminal = true;
  e.graphical_session = false;
  EXPECT_EQ(graphical_chooser(e), std::nullopt) << "no display";
  e.is_macos = true;
  e.installed = with({"osascript"});
  EXPECT_EQ(graphical_chooser(e), Chooser::osascript);
}

#if defined(_WIN32)
TEST(StandInZenity, OpenSaveAndMessageRunTheChooser) {
  GTEST_SKIP() << "Windows shows its own dialogs: graphical choosers run on other systems only";
}
#else
// A stand-in zenity on PATH that writes its arguments, one a line, to a log
// and answers as the test tells it through the environment.
class StandInZenity : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = dir_.file("arguments.log");
    const std::string script = dir_.write(
        "zenity",
        "#!/bin/sh\n"
        "for argument in \"$@\"; do printf '%s\\n' \"$argument\"; done >> \"$ZENITY_LOG\"\n"
        "echo --- >> \"$ZENITY_LOG\"\n"
        "[ -n \"$ZENITY_ANSWER\" ] || exit 1\n"
        "printf '%s\\n' \"$ZENITY_ANSWER\"\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    old_path_ = path == nullptr ? "" : path;
    setenv("PATH", (dir_.path().string() + ":" + old_path_).c_str(), 1);
    setenv("ZENITY_LOG", log_.c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", old_path_.c_str(), 1);
    unsetenv("ZENITY_ANSWER");
  }
  std::string log() const {
    std::ifstream in(log_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  test::TempDir dir_;
  std::string log_;
  std::string old_path_;
  ChooserFileDialogs dialogs_{Chooser::zenity, run_command};
};

TEST_F(StandInZenity, OpenSaveAndMessageRunTheChooser) {
  setenv("ZENITY_ANSWER", "/music/flute take.wav", 1);
  std::string path;
  ASSERT_TRUE(dialogs_.open_file(open_request, path));
  EXPECT_EQ(path, "/music/flute take.wav");

  setenv("ZENITY_ANSWER", "/music/flute", 1);
  path = "flute";
  ASSERT_TRUE(dialogs_.save_file(save_request, path));
  EXPECT_EQ(path, "/music/flute.txt");

  dialogs_.message_box("The selected file could not be opened for output.", "Error");

  EXPECT_EQ(log(),
            "--file-selection\n--title=Select the recorded sample\n"
            "--file-filter=Wave Files (*.wav) | *.wav\n--file-filter=All Files (*.*) | *\n---\n"
            "--file-selection\n--title=Enter a filename for the output\n--save\n"
            "--confirm-overwrite\n--filename=flute\n"
            "--file-filter=Text Files (*.txt) | *.txt\n--file-filter=All Files (*.*) | *\n---\n"
            "--warning\n--no-markup\n--title=Error\n"
            "--text=The selected file could not be opened for output.\n---\n");
}

TEST_F(StandInZenity, CancelLeavesThePathAsItWas) {
  unsetenv("ZENITY_ANSWER");
  std::string path = "flute";
  EXPECT_FALSE(dialogs_.save_file(save_request, path));
  EXPECT_EQ(path, "flute");
  EXPECT_FALSE(ChooserFileDialogs(Chooser::zenity,
                                  [](const std::vector<std::string>&) { return CommandResult{}; })
                   .open_file(open_request, path))
      << "a chooser that cannot be started";
}
#endif

}  // namespace
}  // namespace toneprint
