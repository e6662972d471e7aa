#pragma once
// Puts decoded libavcodec frames into our pixel buffers.
//
// convert() scales a band of source rows into a band of destination rows of
// a packed buffer ('2vuy', 32-bit ARGB, 'BGRA', 'y416' in the AYUV64LE
// layout, and 'v216' and 'v210', which we pack ourselves from 16- and 10-bit
// planar pictures); the rows outside the band are filled with black. This is
// how decoders shift a picture by a line (field order) or crop padding.
//
// copyToBiPlanar() writes 16-bit planar YCbCr into a bi-planar buffer ('x422',
// 'xf22', 'xf44'): samples shifted up to 16 bits, each chroma pair as one
// 32-bit little-endian value (Cb low, Cr high).
//
// One converter per decoder; not thread-safe. The scaling context is kept and
// reused while the shapes stay the same.

#include <cstddef>
#include <memory>
#include <string>

#include "media/decoders/RowBands.h"
#include "platform/media/PixelBuffer.h"

struct AVFrame;

namespace media {

class FrameConverter {
 public:
  FrameConverter();
  ~FrameConverter();
  FrameConverter(const FrameConverter&) = delete;
  FrameConverter& operator=(const FrameConverter&) = delete;

  // Whether convert() can write this format.
  static bool supportsPackedFormat(platform::media::FourCharCode format);

  // Scales `source` rows of `frame` (whole width) into `destination` rows of
  // `buffer` (whole width). The buffer must be locked. False with `error`
  // set when the format or a band does not fit.
  bool convert(const AVFrame& frame, RowBand source, platform::media::PixelBuffer& buffer, RowBand destination,
               std::string* error);

  // Converts `frame` to `intermediateFormat` (an AVPixelFormat of 16-bit
  // planar YCbCr, 4:2:2 or 4:4:4) at the buffer's size when it is not already
  // that, then copies it into the bi-planar buffer. The buffer must be locked.
  bool copyToBiPlanar(const AVFrame& frame, int intermediateFormat, platform::media::PixelBuffer& buffer,
                      std::string* error);

  // Fills rows of a packed buffer with the format's black.
  static void fillBlack(platform::media::PixelBuffer& buffer, RowBand rows);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace media
