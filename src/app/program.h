#pragma once

#include "app/console.h"
#include "app/file_selection.h"

namespace toneprint {

// One whole run: choose the recording and the report, check that the
// recording is mono 16-bit, settle the settings, write the report, wait for
// Enter. Returns the exit status: 0 after a complete run or a cancelled
// dialog, 1 for a recording that is not mono 16-bit or a report that could
// not be opened or written completely.
int run_program(Console& console, FileDialogs& dialogs);

}  // namespace toneprint
