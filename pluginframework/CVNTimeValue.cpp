#include "pluginframework/CVNTimeValue.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace pluginframework {

using platform::media::FormatDescription;
using platform::media::MediaTime;

namespace {

std::int64_t floorMod(std::int64_t value, std::int64_t divisor) {
  const std::int64_t remainder = value % divisor;
  return remainder < 0 ? remainder + divisor : remainder;
}

// Numbers skipped at each minute that is not a tenth minute (0: no drop frame).
std::int64_t dropsPerMinute(std::int64_t nominal, bool isDropFrame) {
  return isDropFrame && nominal > 0 && nominal % 30 == 0 ? nominal / 15 : 0;
}

std::int64_t framesPerDay(std::int64_t nominal, std::int64_t drops) {
  return 24 * 6 * (600 * nominal - 9 * drops);
}

// Reads exactly two (or, for hours, one or more) decimal digits.
bool readNumber(std::string_view& text, std::int64_t* value, std::size_t minDigits, std::size_t maxDigits) {
  std::size_t digits = 0;
  *value = 0;
  while (digits < text.size() && digits < maxDigits && text[digits] >= '0' && text[digits] <= '9') {
    *value = *value * 10 + (text[digits] - '0');
    ++digits;
  }
  if (digits < minDigits) return false;
  text.remove_prefix(digits);
  return true;
}

}  // namespace

CVNTimeValue::CVNTimeValue(std::int64_t frameNumber, double framesPerSecond, bool isDropFrame)
    : frameNumber_(frameNumber), framesPerSecond_(framesPerSecond), isDropFrame_(isDropFrame) {}

std::int64_t CVNTimeValue::nominalRate(double framesPerSecond) {
  if (!(framesPerSecond >= 1.0) || framesPerSecond > 1000.0) return 0;
  return static_cast<std::int64_t>(std::llround(framesPerSecond));
}

std::optional<CVNTimeValue> CVNTimeValue::initWithString(std::string_view text, double framesPerSecond,
                                                         bool isDropFrame) {
  const std::int64_t nominal = nominalRate(framesPerSecond);
  if (nominal == 0) return std::nullopt;
  std::int64_t hours, minutes, seconds, frames;
  auto separator = [&](bool framesNext) {
    if (text.empty()) return false;
    const char c = text.front();
    const bool ok = c == ':' || (framesNext && (c == ';' || c == '.' || c == ','));
    text.remove_prefix(1);
    return ok;
  };
  if (!readNumber(text, &hours, 1, 2) || !separator(false) || !readNumber(text, &minutes, 2, 2) ||
      !separator(false) || !readNumber(text, &seconds, 2, 2) || !separator(true) ||
      !readNumber(text, &frames, 1, 3) || !text.empty()) {
    return std::nullopt;
  }
  if (hours >= 24 || minutes >= 60 || seconds >= 60 || frames >= nominal) return std::nullopt;
  const std::int64_t drops = dropsPerMinute(nominal, isDropFrame);
  // Drop frame skips these labels: they name no frame.
  if (drops && seconds == 0 && frames < drops && minutes % 10 != 0) return std::nullopt;
  const std::int64_t totalMinutes = 60 * hours + minutes;
  const std::int64_t frameNumber =
      ((totalMinutes * 60 + seconds) * nominal + frames) - drops * (totalMinutes - totalMinutes / 10);
  return CVNTimeValue(frameNumber, framesPerSecond, isDropFrame);
}

CVNTimeValue CVNTimeValue::initWithFrameNumber(std::int64_t frameNumber, double framesPerSecond, bool isDropFrame) {
  return CVNTimeValue(frameNumber, framesPerSecond, isDropFrame);
}

CVNTimeValue CVNTimeValue::timeValueWithSeconds(double seconds, double framesPerSecond, bool isDropFrame) {
  const double frames = std::round(seconds * framesPerSecond);
  std::int64_t frameNumber = 0;
  if (std::isfinite(frames) && std::fabs(frames) < 9.0e18) frameNumber = static_cast<std::int64_t>(frames);
  return CVNTimeValue(frameNumber, framesPerSecond, isDropFrame);
}

double CVNTimeValue::seconds() const {
  return framesPerSecond_ > 0 ? static_cast<double>(frameNumber_) / framesPerSecond_ : 0.0;
}

std::string CVNTimeValue::string() const {
  const std::int64_t nominal = nominalRate(framesPerSecond_);
  const char separator = isDropFrame_ ? ';' : ':';
  char text[96];
  if (nominal == 0) {
    std::snprintf(text, sizeof text, "00:00:00%c00", separator);
    return text;
  }
  const std::int64_t drops = dropsPerMinute(nominal, isDropFrame_);
  std::int64_t count = floorMod(frameNumber_, framesPerDay(nominal, drops));
  if (drops) {
    // Put back the numbers drop frame skipped before this frame.
    const std::int64_t framesPer10Minutes = 600 * nominal - 9 * drops;
    const std::int64_t framesPerMinute = 60 * nominal - drops;
    const std::int64_t tens = count / framesPer10Minutes;
    const std::int64_t inTen = count % framesPer10Minutes;
    count += 9 * drops * tens;
    if (inTen > drops) count += drops * ((inTen - drops) / framesPerMinute);
  }
  const std::int64_t frames = count % nominal;
  const std::int64_t totalSeconds = count / nominal;
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%02lld", static_cast<long long>(totalSeconds / 3600 % 24),
                static_cast<long long>(totalSeconds / 60 % 60), static_cast<long long>(totalSeconds % 60), separator,
                static_cast<long long>(frames));
  return text;
}

std::vector<std::uint8_t> CVNTimeValue::dataRepresentation() const {
  const auto value = static_cast<std::uint32_t>(frameNumber_);
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

std::optional<CVNTimeValue> CVNTimeValue::timeValueWithTimecodeSampleBuffer(const platform::media::SampleBuffer& sample) {
  const auto& format = sample.formatDescription();
  const auto& block = sample.dataBuffer();
  if (!format || format->mediaType() != platform::media::kMediaTypeTimeCode || !block || block->dataLength() < 4) {
    return std::nullopt;
  }
  const std::uint8_t* b = block->data();
  const auto frameNumber =
      static_cast<std::int32_t>((std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3]);
  const MediaTime duration = format->frameDuration();
  double rate = duration.isNumeric() && duration.value > 0 ? duration.timeScale / static_cast<double>(duration.value)
                                                           : static_cast<double>(format->frameQuanta());
  const bool drop = (format->timeCodeFlags() & platform::media::kTimeCodeFlagDropFrame) != 0;
  return CVNTimeValue(frameNumber, rate, drop);
}

platform::media::FormatDescriptionRef CVNTimeValue::createTimecodeFormatDescription() const {
  const std::int64_t nominal = nominalRate(framesPerSecond_);
  // 29.97 and 59.94 as 1001 ticks at 30000 and 60000; whole rates as 1/rate.
  MediaTime duration = MediaTime::make(1, static_cast<std::int32_t>(std::max<std::int64_t>(nominal, 1)));
  if (nominal > 0 && std::fabs(framesPerSecond_ - nominal) > 0.001) {
    duration = MediaTime::make(1001, static_cast<std::int32_t>(nominal * 1000));
  }
  std::uint32_t flags = platform::media::kTimeCodeFlag24HourMax;
  if (isDropFrame_) flags |= platform::media::kTimeCodeFlagDropFrame;
  return FormatDescription::createTimeCode(platform::media::fourCC("tmcd"), duration, static_cast<std::uint32_t>(nominal),
                                           flags);
}

platform::media::SampleBufferRef CVNTimeValue::createTimecodeSampleBufferWithPTS(
    MediaTime pts, const platform::media::FormatDescriptionRef& timecodeFormatDescription) const {
  if (!timecodeFormatDescription || timecodeFormatDescription->mediaType() != platform::media::kMediaTypeTimeCode) {
    return nullptr;
  }
  auto block = platform::media::BlockBuffer::createWithCopy(dataRepresentation());
  platform::media::SampleBufferRef sample;
  platform::media::SampleBuffer::createReady(block, timecodeFormatDescription, 1,
                                             {{timecodeFormatDescription->frameDuration(), pts, MediaTime::invalid()}},
                                             {4}, &sample);
  return sample;
}

}  // namespace pluginframework
