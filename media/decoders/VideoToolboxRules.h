#pragma once
// The rules the VideoToolbox-rule decoder keeps on top of libavcodec, as
// plain functions: frames needed, the IMX padding, the output-format choice,
// the line placement of standard-definition pictures, the codec of a media
// subtype and the codec configuration held by a format description.
// Any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/FormatDescription.h"

namespace media::videotoolbox {

std::int64_t framesNeededForPlayback(platform::media::FourCharCode codec);

// IMX padding lines above the picture for an 'mp2v' description whose MPEG-2
// profile extension names an IMX variant: 26 ('mx3n', 'mx4n', 'mx5n'), 32
// ('mx3p', 'mx4p', 'mx5p'); otherwise 0.
std::uint32_t imxPaddingLines(const platform::media::FormatDescription& description);

struct OutputFormatChoice {
  platform::media::FourCharCode pixelFormat = 0;
  bool refused = false;  // 'v210' asked without the GPU path
};
OutputFormatChoice chooseOutputFormat(platform::media::FourCharCode requested, bool metalAPIEnabled,
                                      std::int32_t sourceBits, platform::media::FourCharCode codec);

// Where a standard-definition picture goes in its output: the output height
// (grown by one line when a reversed field would otherwise fall off) and the
// first destination line. None: the picture fills the output.
struct LinePlacement {
  std::int32_t outputHeight = 0;
  std::int32_t firstLine = 0;
  friend bool operator==(const LinePlacement&, const LinePlacement&) = default;
};
std::optional<LinePlacement> linePlacement(std::int32_t outputHeight, std::int32_t sourceHeight, bool reverseField,
                                           bool isIMX);

// libavcodec's codec for a media subtype (an AVCodecID), 0 when none.
int codecIdForSubtype(platform::media::FourCharCode codec);

// The codec configuration of the description's "avcC", "hvcC" or "esds"
// atom (for "esds", its decoder-specific information), empty when none.
std::vector<std::uint8_t> extradataFromDescription(const platform::media::FormatDescription& description);

// The decoder-specific information inside an "esds" atom body; none when the
// descriptors do not fit.
std::optional<std::vector<std::uint8_t>> decoderSpecificInfoFromESDS(const std::vector<std::uint8_t>& esds);

}  // namespace media::videotoolbox
