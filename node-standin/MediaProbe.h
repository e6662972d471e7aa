#pragma once
// What the node knows about one media file: whether it can be played and its
// duration, frame rate, picture size, codec, start timecode and audio
// languages, read with FFmpeg's demuxers.
//
// Validation codes are those clients show: validationStatus 2 is a playable
// file, 1 an invalid one, with invalidReason 1 (file not found), 2 (not a
// movie file), 5 (video codec not found) or 7 (no video track); 0 when valid.
//
// probeMediaFile is reentrant; it never throws.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Value.h"

namespace standin {

inline constexpr std::int64_t kValidationStatusValid = 2;
inline constexpr std::int64_t kValidationStatusInvalid = 1;

enum class InvalidReason : std::int64_t {
  None = 0,
  FileNotFound = 1,
  NotAMovieFile = 2,
  VideoCodecNotFound = 5,
  NoVideoTrack = 7,
};

struct MediaProbe {
  InvalidReason invalidReason = InvalidReason::None;
  std::string problem;  // why the file is invalid, for the log
  double durationInSeconds = 0;
  double framesPerSecond = 0;
  bool dropFrame = false;
  int width = 0;
  int height = 0;
  std::uint32_t videoCodec = 0x3F3F3F3F;  // four characters, most significant byte first
  std::string videoCodecDescription = "Unknown";
  std::string startTimeCode = "00:00:00:00";
  std::vector<std::string> languages;
  platform::Dictionary metadata;  // the file's text tags that are valid UTF-8

  bool isValid() const { return invalidReason == InvalidReason::None; }
};

MediaProbe probeMediaFile(const std::filesystem::path& path);

}  // namespace standin
