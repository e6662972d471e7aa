#pragma once
// What a track's samples are: media type, subtype (codec or pixel format),
// and per kind the video dimensions, the audio stream description, channel
// layout and magic cookie, or the timecode flags, frame duration and quanta.
// Extensions (field count and detail, pixel aspect, MPEG-2 profile, the
// codec configuration atoms) are platform values. Immutable once made;
// shared through std::shared_ptr; any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "platform/media/AudioFormat.h"
#include "platform/media/FourCharCode.h"
#include "platform/media/MediaTime.h"

namespace platform::media {

class PixelBuffer;

inline constexpr FourCharCode kMediaTypeVideo = fourCC("vide");
inline constexpr FourCharCode kMediaTypeAudio = fourCC("soun");
inline constexpr FourCharCode kMediaTypeClosedCaption = fourCC("clcp");
inline constexpr FourCharCode kMediaTypeMetadata = fourCC("meta");
inline constexpr FourCharCode kMediaTypeSubtitle = fourCC("sbtl");
inline constexpr FourCharCode kMediaTypeTimeCode = fourCC("tmcd");

// Extension keys.
inline constexpr const char* kFormatDescriptionExtensionFieldCount = "FieldCount";
inline constexpr const char* kFormatDescriptionExtensionFieldDetail = "FieldDetail";
inline constexpr const char* kFormatDescriptionExtensionPixelAspectRatio = "PixelAspectRatio";  // {"HorizontalSpacing", "VerticalSpacing"}
inline constexpr const char* kFormatDescriptionExtensionCleanAperture = "CleanAperture";
inline constexpr const char* kFormatDescriptionExtensionMPEG2Profile = "MPEG2Profile";
inline constexpr const char* kFormatDescriptionExtensionFormatName = "FormatName";
// Codec configuration atoms, under "SampleDescriptionExtensionAtoms": data
// values keyed "avcC", "hvcC", "esds", "ARES".
inline constexpr const char* kFormatDescriptionExtensionAtoms = "SampleDescriptionExtensionAtoms";
// Field detail values.
inline constexpr const char* kFieldDetailTemporalTopFirst = "TemporalTopFirst";
inline constexpr const char* kFieldDetailTemporalBottomFirst = "TemporalBottomFirst";
inline constexpr const char* kFieldDetailSpatialFirstLineEarly = "SpatialFirstLineEarly";
inline constexpr const char* kFieldDetailSpatialFirstLineLate = "SpatialFirstLineLate";

// Timecode flags.
inline constexpr std::uint32_t kTimeCodeFlagDropFrame = 1;
inline constexpr std::uint32_t kTimeCodeFlag24HourMax = 2;
inline constexpr std::uint32_t kTimeCodeFlagNegativeTimesOK = 4;

struct VideoDimensions {
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const VideoDimensions&, const VideoDimensions&) = default;
};

class FormatDescription {
 public:
  static std::shared_ptr<const FormatDescription> createVideo(FourCharCode codecType, VideoDimensions dimensions,
                                                              platform::Dictionary extensions = {});
  // A video description of a pixel buffer: its format, size and the
  // extensions its attachments carry (field count and detail, aspect, aperture).
  static std::shared_ptr<const FormatDescription> createForPixelBuffer(const PixelBuffer& buffer);
  static std::shared_ptr<const FormatDescription> createAudio(const AudioStreamBasicDescription& description,
                                                              std::optional<AudioChannelLayout> layout = std::nullopt,
                                                              std::vector<std::uint8_t> magicCookie = {},
                                                              platform::Dictionary extensions = {});
  static std::shared_ptr<const FormatDescription> createTimeCode(FourCharCode timeCodeFormatType,
                                                                 MediaTime frameDuration, std::uint32_t frameQuanta,
                                                                 std::uint32_t timeCodeFlags,
                                                                 platform::Dictionary extensions = {});
  // Captions, metadata, subtitles and other kinds: a type and a subtype.
  static std::shared_ptr<const FormatDescription> create(FourCharCode mediaType, FourCharCode mediaSubType,
                                                         platform::Dictionary extensions = {});

  FourCharCode mediaType() const { return mediaType_; }
  FourCharCode mediaSubType() const { return mediaSubType_; }
  const platform::Dictionary& extensions() const { return extensions_; }
  platform::Value extension(std::string_view key) const;
  // Data of one codec configuration atom ("avcC"), or none.
  std::optional<std::vector<std::uint8_t>> atom(std::string_view name) const;

  VideoDimensions dimensions() const { return dimensions_; }
  const AudioStreamBasicDescription* audioStreamBasicDescription() const;
  const std::optional<AudioChannelLayout>& channelLayout() const { return channelLayout_; }
  const std::vector<std::uint8_t>& magicCookie() const { return magicCookie_; }
  MediaTime frameDuration() const { return frameDuration_; }
  std::uint32_t frameQuanta() const { return frameQuanta_; }
  std::uint32_t timeCodeFlags() const { return timeCodeFlags_; }

  // Same type, subtype, details and extensions.
  bool equals(const FormatDescription& other) const;

 private:
  FormatDescription() = default;
  FourCharCode mediaType_ = 0;
  FourCharCode mediaSubType_ = 0;
  platform::Dictionary extensions_;
  VideoDimensions dimensions_;
  AudioStreamBasicDescription audio_;
  std::optional<AudioChannelLayout> channelLayout_;
  std::vector<std::uint8_t> magicCookie_;
  MediaTime frameDuration_;
  std::uint32_t frameQuanta_ = 0;
  std::uint32_t timeCodeFlags_ = 0;
};

using FormatDescriptionRef = std::shared_ptr<const FormatDescription>;

}  // namespace platform::media
