// MPEG-2 header scanning and field reads over any bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/parsers/CVNMPEG2Utilities.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using media::CVNMPEG2Utilities;
  const std::span<const std::uint8_t> bytes(data, size);
  std::int32_t a = 0, b = 0, c = 0;
  std::int64_t type = 0;
  bool captions = false;
  platform::media::MediaTime duration;
  (void)CVNMPEG2Utilities::parseBufferForWidthHeightBitrate(bytes, &a, &b, &c);
  (void)CVNMPEG2Utilities::parseBufferForFrameDuration(bytes, &duration);
  (void)CVNMPEG2Utilities::parseBufferForFieldOrder(bytes, &a);
  (void)CVNMPEG2Utilities::parseBufferForFrameTypeTemporalOrder(bytes, &type, &a);
  (void)CVNMPEG2Utilities::parseBufferForCaptions(bytes, &captions);
  (void)CVNMPEG2Utilities::getCaptionsFromBuffer(bytes);
  return 0;
}
