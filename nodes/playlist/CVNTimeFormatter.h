#pragma once
// CVNTimeFormatter: turns a number of seconds into the time text that playlist
// rows, playlist windows and the offline-clip duration field show. It is set
// up with a format code, a frame rate and a drop-frame flag.
//
// Formats (exactly what stringForObjectValue prints):
// - 3 (kTimeFormatTimeCode, also every code other than 0): "HH:MM:SS:FF",
//   the timecode of the seconds at the frame rate; "HH:MM:SS;FF" when drop
//   frame is on and the rate is 29.97 or 59.94 (at any other rate the flag is
//   ignored). Hours are not wrapped at 24 (a 25-hour playlist prints
//   "25:00:00:00") and take more digits past 99.
// - 0 (kTimeFormatHoursMinutesSeconds): the same text without the frames
//   field: "HH:MM:SS".
// - A negative number of seconds prints "-" before the text of its magnitude
//   (a row whose in point lies after its out point lasts "-00:00:02:00"); a
//   magnitude that prints as zero (under one frame; format 0: under one
//   second) prints without the sign.
// - A rate that cannot carry frames (0, negative, NaN: a clip whose rate is
//   not known yet) counts whole seconds with the frames field "00".
// - NaN or infinite seconds print "--:--:--:--" (format 0: "--:--:--").
//
// Owned by its user (an item, a window); a plain value, copyable. Not
// thread-safe for concurrent changes; reading from several threads is fine.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Value.h"

namespace nodes {

inline constexpr std::int32_t kTimeFormatHoursMinutesSeconds = 0;
inline constexpr std::int32_t kTimeFormatTimeCode = 3;

class CVNTimeFormatter {
 public:
  CVNTimeFormatter() = default;

  std::int32_t format() const { return format_; }
  void setFormat(std::int32_t format) { format_ = format; }
  double framesPerSeconds() const { return framesPerSeconds_; }
  void setFramesPerSeconds(double framesPerSeconds) { framesPerSeconds_ = framesPerSeconds; }
  bool dropFrame() const { return dropFrame_; }
  void setDropFrame(bool dropFrame) { dropFrame_ = dropFrame; }

  // The text of `seconds` in the current format (see the top of this file).
  std::string stringForObjectValue(double seconds) const;
  // The same for a number object (integer, real or boolean); none for any
  // other value, as a formatter refuses an object it cannot show.
  std::optional<std::string> stringForObjectValue(const platform::Value& object) const;

  friend bool operator==(const CVNTimeFormatter&, const CVNTimeFormatter&) = default;

 private:
  std::int32_t format_ = kTimeFormatTimeCode;
  double framesPerSeconds_ = 0.0;
  bool dropFrame_ = false;
};

}  // namespace nodes
