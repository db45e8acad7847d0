#pragma once

#include <string>

namespace toneprint::bench {

// Seconds of sound in the long session.
inline constexpr double session_seconds = 120 * (2.0 + 0.8);

// Writes the long session: 120 harmonic tones of 2 s, each followed by 0.8 s
// of silence, mono 16-bit at 48000 Hz (336 s in all). The tones climb
// chromatically from E2 over four octaves and start again; each has twelve
// harmonics at falling levels. The same file every time.
bool write_long_session(const std::string& path);

}  // namespace toneprint::bench
