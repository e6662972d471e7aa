#pragma once
// Playing a clip item over the real session as the queue player and the
// output would: the read-ahead renewed every frame until the item is ready,
// then one pull each time a decoded picture is due, up to the end.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/engine/items/ItemFakes.h"
#include "tests/support/TemporaryDirectory.h"

namespace item_fakes {

// A folder for clips made with ffmpeg, with the movie reader registered and
// a technical log of its own.
class RealClipFolder {
 public:
  RealClipFolder();
  // The clip `name` made from ffmpeg's input and output arguments; empty when ffmpeg fails.
  std::filesystem::path make(const std::string& name, const std::string& ffmpegArguments);
  const testing_support::CapturedTechnicalLog& log() const { return log_; }

 private:
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
};

// Runs `question` on the delegate's queue and answers it.
bool askOnQueue(RecordingItemDelegate& delegate, const std::function<bool()>& question);
// True once the item is ready for playback; false when it finished first or the wait ran out.
bool readUntilReady(RecordingItemDelegate& delegate, engine::items::CVNMediaQueuePlayerItem& item,
                    double readAheadSeconds);
// The frame numbers (at 25 fps) of the pictures each pull newly took, every
// picture checked to be `width` wide; at most `maxPulls` pulls.
std::vector<std::int64_t> playToTheEnd(RecordingItemDelegate& delegate, engine::items::CVNMediaQueuePlayerItem& item,
                                       std::size_t width, int maxPulls);

}  // namespace item_fakes
