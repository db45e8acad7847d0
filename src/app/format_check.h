#pragma once

#include "app/console.h"
#include "riff/wave_file.h"

namespace toneprint {

// True when the recording is mono with 16-bit samples. Otherwise prints the
// reason (both reasons when both apply, the channel count first) and returns
// false. Nothing else of the format is examined.
bool check_input_format(const WaveFile& wave, Console& console);

}  // namespace toneprint
