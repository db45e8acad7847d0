#include "readers/sndfile_source.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "readers/channel_check.h"
#include "riff/file_offset.h"

namespace toneprint {
namespace {

// Doubles read from libsndfile at a time, rounded down to whole frames (but
// at least one frame).
constexpr std::size_t block_values = 8192;

struct Name {
  int format;
  const char* name;
};

// clang-format off
constexpr Name containers[] = {
    {SF_FORMAT_WAV, "WAVE"}, {SF_FORMAT_AIFF, "AIFF"}, {SF_FORMAT_AU, "AU"},
    {SF_FORMAT_RAW, "RAW"}, {SF_FORMAT_PAF, "PAF"}, {SF_FORMAT_SVX, "SVX"},
    {SF_FORMAT_NIST, "NIST"}, {SF_FORMAT_VOC, "VOC"}, {SF_FORMAT_IRCAM, "IRCAM"},
    {SF_FORMAT_W64, "W64"}, {SF_FORMAT_MAT4, "MAT4"}, {SF_FORMAT_MAT5, "MAT5"},
    {SF_FORMAT_PVF, "PVF"}, {SF_FORMAT_XI, "XI"}, {SF_FORMAT_HTK, "HTK"},
    {SF_FORMAT_SDS, "SDS"}, {SF_FORMAT_AVR, "AVR"}, {SF_FORMAT_WAVEX, "WAVEX"},
    {SF_FORMAT_SD2, "SD2"}, {SF_FORMAT_FLAC, "FLAC"}, {SF_FORMAT_CAF, "CAF"},
    {SF_FORMAT_WVE, "WVE"}, {SF_FORMAT_OGG, "OGG"}, {SF_FORMAT_MPC2K, "MPC2K"},
    {SF_FORMAT_RF64, "RF64"}, {SF_FORMAT_MPEG, "MPEG"},
};
constexpr Name sample_types[] = {
    {SF_FORMAT_PCM_S8, "int8"}, {SF_FORMAT_PCM_16, "int16"}, {SF_FORMAT_PCM_24, "int24"},
    {SF_FORMAT_PCM_32, "int32"}, {SF_FORMAT_PCM_U8, "uint8"}, {SF_FORMAT_FLOAT, "float32"},
    {SF_FORMAT_DOUBLE, "float64"}, {SF_FORMAT_ULAW, "ulaw"}, {SF_FORMAT_ALAW, "alaw"},
    {SF_FORMAT_IMA_ADPCM, "ima-adpcm"}, {SF_FORMAT_MS_ADPCM, "ms-adpcm"},
    {SF_FORMAT_GSM610, "gsm610"}, {SF_FORMAT_VOX_ADPCM, "vox-adpcm"},
    {SF_FORMAT_NMS_ADPCM_16, "nms-adpcm16"}, {SF_FORMAT_NMS_ADPCM_24, "nms-adpcm24"},
    {SF_FORMAT_NMS_ADPCM_32, "nms-adpcm32"}, {SF_FORMAT_G721_32, "g721"},
    {SF_FORMAT_G723_24, "g723-24"}, {SF_FORMAT_G723_40, "g723-40"},
    {SF_FORMAT_DWVW_12, "dwvw12"}, {SF_FORMAT_DWVW_16, "dwvw16"}, {SF_FORMAT_DWVW_24, "dwvw24"},
    {SF_FORMAT_DWVW_N, "dwvw"}, {SF_FORMAT_DPCM_8, "dpcm8"}, {SF_FORMAT_DPCM_16, "dpcm16"},
    {SF_FORMAT_VORBIS, "vorbis"}, {SF_FORMAT_OPUS, "opus"}, {SF_FORMAT_ALAC_16, "alac16"},
    {SF_FORMAT_ALAC_20, "alac20"}, {SF_FORMAT_ALAC_24, "alac24"}, {SF_FORMAT_ALAC_32, "alac32"},
    {SF_FORMAT_MPEG_LAYER_I, "mp1"}, {SF_FORMAT_MPEG_LAYER_II, "mp2"},
    {SF_FORMAT_MPEG_LAYER_III, "mp3"},
};
// clang-format on

template <std::size_t n>
std::string name_of(const Name (&names)[n], int format) {
  const auto found =
      std::find_if(names, names + n, [&](const Name& name) { return name.format == format; });
  return found != names + n ? found->name : "unknown";
}

// Lossy codecs, whose frame count libsndfile may only estimate.
bool is_lossy(int sample_type) {
  return sample_type == SF_FORMAT_VORBIS || sample_type == SF_FORMAT_OPUS ||
         sample_type == SF_FORMAT_MPEG_LAYER_I || sample_type == SF_FORMAT_MPEG_LAYER_II ||
         sample_type == SF_FORMAT_MPEG_LAYER_III;
}

// libsndfile reads the file through these from a stream opened here, so
// that a failure to open or read it is this call's own (errno as the call
// saw it), not libsndfile's process-wide error state.
sf_count_t stream_length(void* user) {
  return file_length(static_cast<SndfileSource::Stream*>(user)->file);
}

sf_count_t stream_seek(sf_count_t offset, int whence, void* user) {
  std::FILE* const file = static_cast<SndfileSource::Stream*>(user)->file;
  FileOffset base = 0;
  if (whence == SEEK_CUR) base = tell(file);
  if (whence == SEEK_END) base = file_length(file);
  if (base < 0 || !seek_to(file, base + offset)) return -1;
  return tell(file);
}

sf_count_t stream_read(void* data, sf_count_t count, void* user) {
  auto* const stream = static_cast<SndfileSource::Stream*>(user);
  const std::size_t got = std::fread(data, 1, static_cast<std::size_t>(count), stream->file);
  if (got < static_cast<std::size_t>(count) && std::ferror(stream->file) != 0 &&
      stream->read_errno == 0) {
    stream->read_errno = errno != 0 ? errno : EIO;
  }
  return static_cast<sf_count_t>(got);
}

sf_count_t stream_write(const void* /*data*/, sf_count_t /*count*/, void* /*user*/) { return 0; }

sf_count_t stream_tell(void* user) { return tell(static_cast<SndfileSource::Stream*>(user)->file); }

SF_VIRTUAL_IO stream_io = {stream_length, stream_seek, stream_read, stream_write, stream_tell};

// libsndfile keeps why an open failed only in process-wide state, which the
// next open anywhere overwrites. Every open here holds this lock until it
// has taken that reason, so that concurrent readers each get their own.
std::mutex open_lock;

}  // namespace

SndfileSource::SndfileSource(const std::string& path, ChannelChoice choice) : choice_(choice) {
  stream_.file = std::fopen(path.c_str(), "rb");
  if (stream_.file == nullptr) {
    error_ = std::string("cannot open the file: ") + std::strerror(errno);
    return;
  }
  SF_INFO info{};
  std::string reason;
  {
    const std::lock_guard<std::mutex> lock(open_lock);
    file_ = sf_open_virtual(&stream_io, SFM_READ, &info, &stream_);
    // No reason at all means that a libsndfile user outside this lock has
    // opened a file since.
    if (file_ == nullptr) {
      reason = sf_error(nullptr) != SF_ERR_NO_ERROR ? sf_strerror(nullptr)
                                                    : "not a format that it decodes";
    }
  }
  if (file_ == nullptr) {
    error_ = stream_.read_errno != 0
                 ? std::string("cannot read the file: ") + std::strerror(stream_.read_errno)
                 : "libsndfile cannot read the file: " + reason;
    return;
  }
  const int sample_type = info.format & SF_FORMAT_SUBMASK;
  format_.container = name_of(containers, info.format & SF_FORMAT_TYPEMASK);
  format_.sample_type = name_of(sample_types, sample_type);
  format_.sample_rate = static_cast<std::uint32_t>(std::max(info.samplerate, 0));
  format_.channels = static_cast<std::uint32_t>(std::max(info.channels, 0));
  format_.frames = is_lossy(sample_type) || info.frames < 0 || info.frames == SF_COUNT_MAX
                       ? RecordingFormat::unknown_frames
                       : static_cast<std::uint64_t>(info.frames);
  error_ = channel_problem(choice, format_.channels);
  if (error_.empty() && format_.sample_rate == 0) {
    error_ = "the recording declares a sample rate of 0";
  }
}

SndfileSource::~SndfileSource() {
  if (file_ != nullptr) sf_close(file_);
  if (stream_.file != nullptr) std::fclose(stream_.file);
}

std::size_t SndfileSource::read(std::span<double> out) {
  if (file_ == nullptr || !error_.empty()) return 0;
  const std::size_t channels = format_.channels;
  const std::size_t block_frames = std::max<std::size_t>(1, block_values / channels);
  std::size_t done = 0;
  while (done < out.size()) {
    const std::size_t wanted = std::min(out.size() - done, block_frames);
    if (block_.empty()) block_.resize(block_frames * channels);
    const sf_count_t got = sf_readf_double(file_, block_.data(), static_cast<sf_count_t>(wanted));
    for (sf_count_t i = 0; i < got; ++i) {
      const double* const frame = block_.data() + static_cast<std::size_t>(i) * channels;
      double value = 0;
      if (choice_.channel != 0) {
        value = frame[choice_.channel - 1] * 32768.0;
      } else {
        for (std::size_t c = 0; c < channels; ++c) value += frame[c] * 32768.0;
        value /= static_cast<double>(channels);
      }
      out[done + static_cast<std::size_t>(i)] = std::isfinite(value) ? value : 0.0;
    }
    done += static_cast<std::size_t>(std::max<sf_count_t>(got, 0));
    if (got < static_cast<sf_count_t>(wanted)) {
      if (sf_error(file_) != SF_ERR_NO_ERROR) {
        error_ = std::string("libsndfile cannot read the samples: ") + sf_strerror(file_);
      }
      break;
    }
  }
  return done;
}

bool SndfileSource::seek(std::uint64_t frame) {
  if (file_ == nullptr || !error_.empty() || frame > static_cast<std::uint64_t>(SF_COUNT_MAX)) {
    return false;
  }
  const auto target = static_cast<sf_count_t>(frame);
  return sf_seek(file_, target, SEEK_SET) == target;
}

}  // namespace toneprint
