#include "app/program.h"

#include <cstdio>
#include <string>

#include "classic/classic_report.h"
#include "classic/wave_analysis.h"
#include "app/console_input.h"
#include "app/format_check.h"
#include "app/settings_dialogue.h"

namespace toneprint {

int run_program(Console& console, FileDialogs& dialogs) {
  WaveFile wave;
  std::string report_path;
  if (!select_files(wave, report_path, dialogs)) return 0;

  // A refused recording leaves the report as it was, or leaves none.
  const bool accepted = check_input_format(wave, console);
  std::FILE* const report = accepted ? open_report(report_path) : nullptr;
  if (report == nullptr) {
    // Opening can fail only if the file has changed since it was chosen.
    if (accepted) dialogs.message_box("The selected file could not be opened for output.", "Error");
    console.write("Press <Enter> to quit.\n");
    discard_input_line(console);
    return 1;
  }

  AnalysisSettings settings;
  configure_settings(console, settings, wave.sample_rate());
  write_report_header(report, settings);
  analyse_tones(wave, settings, report, console);
  // A full disk or a removed drive shows as a failed write or close; the
  // report is then cut short, and the run must not end as a success.
  const bool written = std::ferror(report) == 0;
  const bool closed = std::fclose(report) == 0;
  if (!written || !closed) {
    console.write("\nError: the report file could not be written completely.\n");
  }

  console.write("Press <Enter> when done viewing output.\n");
  discard_input_line(console);
  return written && closed ? 0 : 1;
}

}  // namespace toneprint
