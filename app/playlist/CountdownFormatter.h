#pragma once
// CountdownFormatter: the "HH:MM:SS" countdown text of the playlist window's
// remaining-time fields, with a colour that warns as the end draws near and
// the leading zeros dimmed. It does not parse text. Qt-free: the view turns
// the returned colour and dimmed count into its own text attributes.
//
// Owned by its view; a plain value. Main thread (the views use it there).

#include <cstddef>
#include <optional>
#include <string>

#include "platform/Value.h"

namespace app {

struct FormatterColor {
  double red = 0.0;
  double green = 0.0;
  double blue = 0.0;
  double alpha = 1.0;
  friend bool operator==(const FormatterColor&, const FormatterColor&) = default;
};

// The countdown as drawn: the text, its colour (none when colouring is off:
// the view keeps its own) and how many leading characters take dimmedAlpha.
struct CountdownText {
  std::string text;
  std::optional<FormatterColor> color;
  std::size_t dimmedCharacters = 0;
  double dimmedAlpha = 0.1;
  friend bool operator==(const CountdownText&, const CountdownText&) = default;
};

class CountdownFormatter {
 public:
  static constexpr float kMaximumSeconds = 356400.0f;  // 99 hours
  static constexpr const char* kOverflowText = "--:--:--";

  const FormatterColor& tenLeftSecondsColor() const { return tenLeftSecondsColor_; }
  void setTenLeftSecondsColor(const FormatterColor& color) { tenLeftSecondsColor_ = color; }
  const FormatterColor& thirtyLeftSecondsColor() const { return thirtyLeftSecondsColor_; }
  void setThirtyLeftSecondsColor(const FormatterColor& color) { thirtyLeftSecondsColor_ = color; }
  const FormatterColor& textColor() const { return textColor_; }
  void setTextColor(const FormatterColor& color) { textColor_ = color; }
  double alpha() const { return alpha_; }
  void setAlpha(double alpha) { alpha_ = alpha; }
  bool isColoredCountDown() const { return isColoredCountDown_; }
  void setIsColoredCountDown(bool colored) { isColoredCountDown_ = colored; }

  // "HH:MM:SS" of the magnitude in whole seconds; zero or a non-number reads
  // "00:00:00"; more than 99 hours, infinity or NaN reads kOverflowText.
  static std::string stringForSeconds(double seconds);
  static std::string stringForObjectValue(const platform::Value& object);

  // The text with its colour: textColor at or below 0 and from 30 s,
  // thirtyLeftSecondsColor from 10 s, tenLeftSecondsColor below 10 s.
  CountdownText countdownTextForSeconds(double seconds) const;

 private:
  FormatterColor tenLeftSecondsColor_{1.0, 0.0, 0.0, 1.0};
  FormatterColor thirtyLeftSecondsColor_{1.0, 0.5, 0.0, 1.0};
  FormatterColor textColor_{0.4, 0.4, 0.4, 1.0};
  double alpha_ = 0.1;
  bool isColoredCountDown_ = true;
};

}  // namespace app
