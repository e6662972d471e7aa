#pragma once
// What a reader that demuxes with libavformat offers the decoder selection:
// its video codec context (it owns it; a decoder opens and closes it), the
// video stream's time base and whether each packet holds one field.
// The FFmpeg movie reader implements it; decoder selection treats any reader
// that does as the movie reader.

#include <cstdint>

struct AVCodecContext;

namespace media {

struct TimeBase {
  std::int32_t numerator = 0;
  std::int32_t denominator = 1;
};

class FFmpegCodecSource {
 public:
  virtual ~FFmpegCodecSource() = default;
  virtual AVCodecContext* codecContext() const = 0;
  virtual TimeBase videoStreamTimeBase() const = 0;
  virtual bool fieldBasedAVPacket() const = 0;
};

}  // namespace media
