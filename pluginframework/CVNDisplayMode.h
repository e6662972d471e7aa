#pragma once
// An output or input video format: name, size, frame duration over a time
// scale (1001/30000 is 29.97 frames a second) and field dominance (0
// unknown, 1 bottom field first, 2 top field first, 3 progressive).
// Immutable; shared through std::shared_ptr; any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/media/MediaTime.h"

namespace pluginframework {

// Keys of a display mode in dictionaries other processes read.
inline constexpr const char* CVNDisplayModeNameKey = "CVNDisplayModeNameKey";
inline constexpr const char* CVNDisplayModeFrameDurationKey = "CVNDisplayModeFrameDurationKey";
inline constexpr const char* CVNDisplayModeTimeScaleKey = "CVNDisplayModeTimeScaleKey";
inline constexpr const char* CVNDisplayModeWidthKey = "CVNDisplayModeWidthKey";
inline constexpr const char* CVNDisplayModeHeightKey = "CVNDisplayModeHeightKey";
inline constexpr const char* CVNDisplayModeFieldDominance = "CVNDisplayModeFieldDominance";

enum class FieldDominance : std::int32_t { Unknown = 0, BottomFieldFirst = 1, TopFieldFirst = 2, Progressive = 3 };

class CVNDisplayMode {
 public:
  CVNDisplayMode(std::string name, std::int64_t frameDuration, std::int32_t timeScale, std::int32_t width,
                 std::int32_t height, FieldDominance fieldDominance);

  const std::string& name() const { return name_; }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  // The width the picture is shown at (square pixels here: the width).
  std::int32_t displayWidth() const { return width_; }
  std::int64_t frameDuration() const { return frameDuration_; }
  std::int32_t timeScale() const { return timeScale_; }
  // Frames a second; 0 for a zero frame duration.
  double frameRate() const;
  // The rate as timeScale / frameDuration written as a media time
  // (value timeScale, scale frameDuration), and the duration of one frame.
  platform::media::MediaTime frameRateAsCMTime() const;
  platform::media::MediaTime frameDurationAsCMTime() const;
  FieldDominance fieldDominance() const { return fieldDominance_; }
  // Field dominance 1 or 2.
  bool interlaced() const;
  // 25 or 50 frames a second.
  bool isPAL() const;

  // "1080i50 (1920 x 1080, 25.00 fps, interlaced, top field first)": the
  // name, size, rate and field order; "No display mode" for none.
  static std::string descriptionForDisplayMode(const CVNDisplayMode* mode);

 private:
  std::string name_;
  std::int64_t frameDuration_;
  std::int32_t timeScale_;
  std::int32_t width_;
  std::int32_t height_;
  FieldDominance fieldDominance_;
};

}  // namespace pluginframework
