#pragma once

// Opening a recording of any format that this build reads.

#include <memory>
#include <string>

#include "analysis/sample_source.h"

namespace toneprint {

// Opens the recording at `path` for reading `choice`. A file that begins
// "RIFF", four bytes, "WAVE" and holds PCM or float samples is read by the
// project's own WAVE reader, the same on every platform; one of another
// encoding (A-law, ADPCM, ...), and any other file, through libsndfile
// where the build has it. Null when the file cannot be opened or read as it
// declares, or the channel is not there; `error` then says why.
std::unique_ptr<SampleSource> open_recording(const std::string& path, ChannelChoice choice,
                                             std::string& error);

// The libsndfile that this build reads other formats with (its version
// string, e.g. "libsndfile-1.2.0"), or empty when built without it.
std::string sndfile_version();

}  // namespace toneprint
