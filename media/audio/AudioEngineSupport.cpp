#include "media/audio/AudioEngineSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>

#include "foundation/CVNLogController.h"

namespace media {

namespace pm = platform::media;

void audioEngineLog(std::uint32_t level, bool show, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  foundation::CVNLogController::sharedLogController().logMessageWithLevelV(level, show, format, arguments);
  va_end(arguments);
}

pm::AudioStreamBasicDescription markPackedIfLinearPCM(pm::AudioStreamBasicDescription format) {
  if (format.formatID == pm::kAudioFormatLinearPCM &&
      format.bytesPerPacket == format.bitsPerChannel / 8 * format.channelsPerFrame) {
    format.formatFlags |= pm::kAudioFormatFlagIsPacked;
  }
  return format;
}

std::uint32_t outputFrameBytes(const pm::AudioStreamBasicDescription& format) {
  const bool planar = (format.formatFlags & pm::kAudioFormatFlagIsNonInterleaved) != 0;
  return planar ? format.bytesPerFrame * format.channelsPerFrame : format.bytesPerFrame;
}

std::uint32_t outputRoomFrames(std::uint32_t mixerFrames, const pm::AudioStreamBasicDescription& format) {
  // A few frames beyond the ratio: the resampler's output of one slice may run ahead by its filter's length.
  return static_cast<std::uint32_t>(std::ceil(mixerFrames * format.sampleRate / 48000.0)) + 64;
}

std::uint32_t outputFramesForDuration(const pm::MediaTime& duration, std::int64_t outputRate, std::uint64_t* remainder) {
  if (!duration.isNumeric() || duration.value <= 0) return 0;
  if (duration.timeScale == outputRate) return static_cast<std::uint32_t>(duration.value);
  const __int128 scaled = static_cast<__int128>(duration.value) * outputRate;
  auto frames = static_cast<std::uint64_t>(scaled / duration.timeScale);
  *remainder += static_cast<std::uint64_t>(scaled % duration.timeScale);
  const auto timeScale = static_cast<std::uint64_t>(duration.timeScale);
  if (*remainder > timeScale) {
    frames += *remainder / timeScale;
    *remainder %= timeScale;
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, UINT32_MAX));
}

}  // namespace media
