#include "foundation/TechnicalLogRepeatFolder.h"

#include "foundation/TechnicalLogFormat.h"

namespace foundation {

TechnicalLogRepeatFolder::Plan TechnicalLogRepeatFolder::plan(const std::filesystem::path& path,
                                                              std::string_view message, std::string_view timeStamp) {
  Plan plan;
  if (lastFilePath_ && *lastFilePath_ == path) {
    if (lastMessage_ && *lastMessage_ == message) {
      ++repeatCount_;
      return plan;
    }
    if (repeatCount_ != 0) {
      plan.leadingText = technicalLogRepeatLine(timeStamp, repeatCount_);
      repeatCount_ = 0;
    }
    lastMessage_ = std::string(message);
    plan.writesLine = true;
    return plan;
  }

  if (repeatCount_ != 0 && lastFilePath_) {
    plan.previousFilePath = lastFilePath_;
    plan.previousFileText = technicalLogRepeatLine(timeStamp, repeatCount_);
  }
  repeatCount_ = 0;
  // Cleared, not set: the second line of a new file is always written in full.
  lastMessage_.reset();
  lastFilePath_ = path;
  plan.startsNewFile = true;
  plan.writesLine = true;
  return plan;
}

}  // namespace foundation
