#pragma once
// Finds MPEG-2 video headers inside one demuxed packet and reads the fields
// the movie reader needs: size and bit rate, frame rate, field order,
// picture type and temporal reference, and ATSC caption user data.
//
// Every field read checks that the header found holds the byte it reads;
// buffers under 5 bytes find nothing. Headers are views into the caller's
// bytes. Class operations; any thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/media/MediaTime.h"

namespace media {

enum class MPEG2HeaderType {
  Picture = 0,
  Sequence = 1,
  SequenceExtension = 2,
  SequenceDisplayExtension = 3,
  PictureCodingExtension = 4,
  ATSCUserData = 6,
};

class CVNMPEG2Utilities {
 public:
  // The first header of that type, from its start code to the next start
  // code (or the end of the buffer); none when there is none.
  static std::optional<std::span<const std::uint8_t>> mpeg2HeaderDataFromBuffer(std::span<const std::uint8_t> buffer,
                                                                              MPEG2HeaderType type);
  // Width, height and bit-rate value (units of 400 bit/s) of the sequence header.
  static bool parseBufferForWidthHeightBitrate(std::span<const std::uint8_t> buffer, std::int32_t* width,
                                               std::int32_t* height, std::int32_t* bitrate);
  // Frame-rate codes 1 to 8: 1001/24000 ... 1000/60000; other codes answer false.
  static bool parseBufferForFrameDuration(std::span<const std::uint8_t> buffer,
                                          platform::media::MediaTime* frameDuration);
  // 1 progressive, 2 top field first, 3 bottom field first.
  static bool parseBufferForFieldOrder(std::span<const std::uint8_t> buffer, std::int32_t* fieldOrder);
  // Picture type 1 I, 2 P, 3 B, 4 D; a temporal reference of 21 or more answers false with 0.
  static bool parseBufferForFrameTypeTemporalOrder(std::span<const std::uint8_t> buffer, std::int64_t* frameType,
                                                   std::int32_t* temporalOrder);
  // True when ATSC user data is present; `hasCaptions` (optional) when it is caption data (type code 3).
  static bool parseBufferForCaptions(std::span<const std::uint8_t> buffer, bool* hasCaptions);
  // The 60 bytes starting 12 bytes after 00 00 00 01 B2 "GA94" with type code 3; none otherwise.
  static std::optional<std::vector<std::uint8_t>> getCaptionsFromBuffer(std::span<const std::uint8_t> buffer);
  static std::string stringFromFrameType(std::int64_t frameType);
};

}  // namespace media
