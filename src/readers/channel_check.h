#pragma once

// What the readers of every format check of the channels before reading.

#include <cstdint>
#include <string>

#include "analysis/sample_source.h"

namespace toneprint {

// Why `choice` cannot be read from a recording of `channels` channels, or
// empty.
inline std::string channel_problem(ChannelChoice choice, std::uint32_t channels) {
  if (channels == 0) return "the recording declares 0 channels";
  if (choice.channel > channels) {
    return "channel " + std::to_string(choice.channel) + " asked for; the recording has " +
           std::to_string(channels);
  }
  return {};
}

}  // namespace toneprint
