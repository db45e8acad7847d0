// toneprint: measures the pitch and the harmonic content of the tones of a
// mono 16-bit WAVE recording. Everything it needs is asked for in dialogs
// and on the console; command-line arguments are ignored.

#include "app/console.h"
#include "app/file_dialogs.h"
#include "app/program.h"

int main() {
  toneprint::StdioConsole console;
  const auto dialogs = toneprint::platform_file_dialogs(console);
  return toneprint::run_program(console, *dialogs);
}
