#include "app/format_check.h"

namespace toneprint {

bool check_input_format(const WaveFile& wave, Console& console) {
  bool accepted = true;
  if (wave.channels() != 1) {
    console.write("\nError: the input wave file must be mono (1 channel).\n");
    accepted = false;
  }
  if (wave.bits_per_sample() != 16) {
    console.write("\nError: the input wave file must have 16-bit samples.\n");
    accepted = false;
  }
  return accepted;
}

}  // namespace toneprint
