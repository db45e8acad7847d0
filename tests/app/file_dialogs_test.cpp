#include "app/file_dialogs.h"

#include "support/test_support.h"

using namespace toneprint;

TEST(TypedPath, LosesBlanksAndOnePairOfQuotesAndTakesTheHomeFolder) {
  // End to end, typed paths lose their blanks and quotes; here the rest.
  EXPECT_EQ(normalise_typed_path(" \"~/a b.wav\"\r", "/home/me"), "/home/me/a b.wav");
  EXPECT_EQ(normalise_typed_path("\"/a/b.wav'", nullptr), "\"/a/b.wav'");
  EXPECT_EQ(normalise_typed_path("~/a.wav", nullptr), "~/a.wav") << "no home folder known";
}

TEST(ChooserFileDialogs, KdialogTakesItsFiltersOneALine) {
  ScriptedConsole console;
  const auto command = ChooserFileDialogs(Chooser::kdialog, nullptr, console)
                           .dialog_command(report_dialog, true, "a");
  EXPECT_EQ(command, (std::vector<std::string>{
                         "kdialog", "--title", "Enter a filename for the output",
                         "--getsavefilename", "a", "*.txt|Text Files (*.txt)\n*|All Files (*.*)"}));
}

// Windows shows its own dialogs; graphical choosers run on other systems.
#if !defined(_WIN32)
// A zenity, second on PATH, that logs its arguments one a line and prints the
// answer it is given, or fails as a cancelled dialog does.
TEST(ChooserFileDialogs, StandInZenityShowsEachDialogAndMessage) {
  const test::TempDir dir;
  const std::string zenity = dir.write(
      "zenity",
      "#!/bin/sh\nprintf '%s\\n' \"$@\" --- >> \"$LOG\"\n[ -n \"$ANSWER\" ] && echo \"$ANSWER\"\n");
  std::filesystem::permissions(zenity, std::filesystem::perms::owner_all);
  const std::string old_path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  setenv("PATH", ("/no-such-folder:" + dir.path().string() + ":" + old_path).c_str(), 1);
  setenv("LOG", dir.file("log").c_str(), 1);
  EXPECT_TRUE(DialogEnvironment::current().installed("zenity"));
  EXPECT_FALSE(DialogEnvironment::current().installed("no-such-chooser"));

  // Each dialog proposes "flute". The answer ends in a carriage return once.
  ScriptedConsole console("no\nyes\n");
  ChooserFileDialogs dialogs(Chooser::zenity, run_command, console);
  std::string opened = "flute", saved = "flute", cancelled = "flute";
  std::string replaced = "flute", typed = "flute";
  setenv("ANSWER", "/music/flute take.wav", 1);
  EXPECT_TRUE(dialogs.open_file(recording_dialog, opened));
  setenv("ANSWER", "/music/flute\r", 1);
  EXPECT_TRUE(dialogs.save_file(report_dialog, saved));
  setenv("ANSWER", "", 1);
  EXPECT_FALSE(dialogs.save_file(report_dialog, cancelled));
  // x.txt exists. The chooser confirmed "x" only, so the console asks: a no
  // shows the dialog again and the end of the input cancels. A typed ".txt"
  // was confirmed in the chooser.
  dir.write("x.txt", "");
  setenv("ANSWER", dir.file("x").c_str(), 1);
  EXPECT_TRUE(dialogs.save_file(report_dialog, replaced));
  EXPECT_FALSE(dialogs.save_file(report_dialog, cancelled)) << "the input ended";
  setenv("ANSWER", dir.file("x.txt").c_str(), 1);
  EXPECT_TRUE(dialogs.save_file(report_dialog, typed));
  dialogs.message_box("The report could not be opened.", "Error");
  setenv("PATH", "/no-such-folder", 1);
  EXPECT_FALSE(dialogs.open_file(recording_dialog, cancelled)) << "a chooser that cannot start";
  setenv("PATH", old_path.c_str(), 1);
  EXPECT_EQ(opened + "|" + saved + "|" + cancelled, "/music/flute take.wav|/music/flute.txt|flute");
  EXPECT_EQ(replaced + "|" + typed, dir.file("x.txt") + "|" + dir.file("x.txt"));
  const std::string question = std::string("\n").append(dir.file("x.txt")) +
                               " exists. Replace it? (yes / no) ";
  EXPECT_EQ(console.output(), question + question + question);
  const std::string save =
      "--file-selection\n--title=Enter a filename for the output\n--save\n--confirm-overwrite\n"
      "--filename=flute\n--file-filter=Text Files (*.txt) | *.txt\n--file-filter=All Files (*.*) | "
      "*\n---\n";
  EXPECT_EQ(
      test::read_file(dir.file("log")),
      "--file-selection\n--title=Select the recorded sample\n--filename=flute\n--file-filter="
      "Wave Files (*.wav) | *.wav\n--file-filter=All Files (*.*) | *\n---\n" +
          save + save + save + save + save + save +
          "--warning\n--no-markup\n--title=Error\n--text=The report could not be opened.\n---\n");
}
#endif
