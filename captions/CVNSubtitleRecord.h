#pragma once
// One subtitle: its text (lines separated by '\n', UTF-8) and when it shows.
// `numberOfPacketsAsCEA608` is how many frames the caption takes to load as
// CEA-608 pop-on, so a caller can start it that much earlier.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace captions {

class CVNSubtitleRecord {
 public:
  std::int32_t numberOfPacketsAsCEA608() const { return numberOfPacketsAsCEA608_; }
  void setNumberOfPacketsAsCEA608(std::int32_t count) { numberOfPacketsAsCEA608_ = count; }
  double startTimeInSeconds() const { return startTimeInSeconds_; }
  void setStartTimeInSeconds(double seconds) { startTimeInSeconds_ = seconds; }
  double endTimeInSeconds() const { return endTimeInSeconds_; }
  void setEndTimeInSeconds(double seconds) { endTimeInSeconds_ = seconds; }
  const std::string& text() const { return text_; }
  void setText(std::string text) { text_ = std::move(text); }

 private:
  std::int32_t numberOfPacketsAsCEA608_ = 0;
  double startTimeInSeconds_ = 0;
  double endTimeInSeconds_ = 0;
  std::string text_;
};

using SubtitleRecordRef = std::shared_ptr<CVNSubtitleRecord>;
using SubtitleRecords = std::vector<SubtitleRecordRef>;

// The lines of a subtitle text, each without its line break.
std::vector<std::string> subtitleLines(const std::string& text);

}  // namespace captions
