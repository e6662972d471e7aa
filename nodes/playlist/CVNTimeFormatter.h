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
// Reading text back (doubleValueFromString) is the inverse: "HH:MM:SS:FF"
// (":" or ";" before the frames) or "HH:MM:SS", with an optional "-", in
// either format, gives hours, minutes and seconds plus the frames at the
// frame rate; what this formatter prints for a number reads back as a number
// that prints the same. Minutes and seconds must be below 60 and frames below
// the rate's whole frames per second; frames are ignored at a rate that
// cannot carry them. Anything else ("--:--:--:--" included) reads as none.
// The offset in frames, when asked for, is added (or, inverted, taken away).
//
// Typed entries (objectValueForEntry), as the clip preview's time fields take
// them: "=" then a time is absolute; a leading "+" or "-" is relative to what
// the field showed and sets enteredValueIsSigned (the caller adds the base and
// clears the flag); a bare time is absolute. A time in an entry may be short:
// one to four fields ("FF", "SS:FF", "MM:SS:FF", "HH:MM:SS:FF") counted from
// the right, each field any number of digits up to twelve (so "90" frames at
// 25 fps is 3.6 s); drop-frame ";" may stand before the frames. Absolute
// values are shown with the offset, so the offset is taken away, and they are
// clamped to 0 ... maximum (when one is set). Relative values keep no offset.
//
// Owned by its user (an item, a window); a plain value, copyable. Not
// thread-safe for concurrent changes; reading from several threads is fine.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
  std::int64_t offsetInFrames() const { return offsetInFrames_; }
  void setOffsetInFrames(std::int64_t frames) { offsetInFrames_ = frames; }

  // The text of `seconds` in the current format (see the top of this file).
  std::string stringForObjectValue(double seconds) const;
  // The same for a number object (integer, real or boolean); none for any
  // other value, as a formatter refuses an object it cannot show.
  std::optional<std::string> stringForObjectValue(const platform::Value& object) const;
  // The seconds that `text` stands for (see the top of this file).
  std::optional<double> doubleValueFromString(std::string_view text, bool usingOffset, bool invertOffset) const;

  // The seconds an entry stands for (see the top of this file); none for text
  // that is not an entry, which leaves the flag alone.
  std::optional<double> objectValueForEntry(std::string_view text);
  // Whether `text` can still become an entry as the user types it.
  static bool isPartialEntryValid(std::string_view text);
  bool enteredValueIsSigned() const { return enteredValueIsSigned_; }
  void setEnteredValueIsSigned(bool isSigned) { enteredValueIsSigned_ = isSigned; }
  std::optional<double> maximum() const { return maximum_; }
  void setMaximum(std::optional<double> seconds) { maximum_ = seconds; }

  friend bool operator==(const CVNTimeFormatter&, const CVNTimeFormatter&) = default;

 private:
  std::int32_t format_ = kTimeFormatTimeCode;
  double framesPerSeconds_ = 0.0;
  bool dropFrame_ = false;
  std::int64_t offsetInFrames_ = 0;
  std::optional<double> maximum_;
  bool enteredValueIsSigned_ = false;
};

}  // namespace nodes
