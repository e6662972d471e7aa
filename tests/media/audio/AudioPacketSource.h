#pragma once
// Test helper standing in for the audio reader: opens a file with
// libavformat and hands out its first audio stream's format description
// (format ID, rate, channels, and the cookie as the movie reader makes it)
// and its packets as sample buffers: PCM as many frames per buffer, other
// formats one packet per buffer. Times count from the stream's start, so
// priming the container marks lies before 0.

#include <filesystem>
#include <vector>

#include "platform/media/FormatDescription.h"
#include "platform/media/SampleBuffer.h"

namespace media::testing {

class AudioPacketSource {
 public:
  explicit AudioPacketSource(const std::filesystem::path& path);

  bool ok() const { return description_ != nullptr; }
  const platform::media::FormatDescriptionRef& description() const { return description_; }
  const std::vector<platform::media::SampleBufferRef>& samples() const { return samples_; }

 private:
  platform::media::FormatDescriptionRef description_;
  std::vector<platform::media::SampleBufferRef> samples_;
};

// A buffer of float planes or interleaved floats (`frames` x channels values,
// as given) with one timing entry at `presentationFrame` / `rate`.
platform::media::SampleBufferRef floatSampleBuffer(const std::vector<float>& values, std::uint32_t channels,
                                                   std::int32_t rate, std::int64_t presentationFrame);

// Linear PCM float at `rate`: non-interleaved (the mixer's own) or interleaved.
platform::media::AudioStreamBasicDescription floatFormat(double rate, std::uint32_t channels, bool interleaved);

}  // namespace media::testing
