#pragma once
// A clip item on a scripted session, its settings applied on the recording
// delegate's queue, with a technical log that keeps level-3 lines.

#include <gtest/gtest.h>

#include "engine/items/CVNMediaQueuePlayerItem.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/engine/items/ItemFakes.h"
#include "tests/engine/items/ScriptedSession.h"
#include "tests/support/TemporaryDirectory.h"

namespace engine::items {

namespace pm = platform::media;
using item_fakes::ScriptedSession;

inline constexpr std::uint32_t k2vuy = pm::kPixelFormat422YpCbCr8;

class MediaItemTest : public ::testing::Test {
 protected:
  void make(ItemDictionary settings, ScriptedSession::Script script = {}) {
    item_ = CVNMediaQueuePlayerItem::create(item_fakes::scriptedFactory(script, &session_, &live_));
    item_->setDelegate(&delegate_);
    item_->setOutputDisplayMode(mode_);
    item_->setSharedPixelBufferPool(item_fakes::outputPool(k2vuy, std::size_t(mode_->width()), std::size_t(mode_->height())));
    onQueue([&] { item_->applySettingsFromDictionary(settings); });
  }
  // A clip at 25 fps whose pictures arrive in '2vuy'.
  static ItemDictionary clip(ItemDictionary extra = {}) {
    ItemDictionary settings{{"itemURL", platform::Value("/media/news/clip.mov")},
                            {"itemTimeScale", platform::Value(25000)},
                            {"itemFrameDuration", platform::Value(1000)},
                            {"itemOutputBufferFormat", platform::Value(std::int64_t{k2vuy})}};
    for (auto& [key, value] : extra) settings.insert_or_assign(key, value);
    return settings;
  }
  void onQueue(const std::function<void()>& task) { delegate_.runOnQueue(task); }
  void initializeAndPlay() {
    onQueue([&] {
      session_->initialize();
      item_->startReading();
      session_->push(item_fakes::picture(1920, 1080, k2vuy, 0));
      item_->decompressionSessionIsReadyForPlayback(*session_);
    });
  }
  std::shared_ptr<pm::PixelBuffer> pull(bool allowDequeue = true) {
    std::shared_ptr<pm::PixelBuffer> picture;
    onQueue([&] { picture = item_->nextPixelBufferByAllowingItemToDequeue(allowDequeue, kPlaybackStatusPlaying); });
    return picture;
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  bool levelSet_ = (defaults_.setObject(platform::Value(3), "technicalLogLevel"), true);
  testing_support::CapturedTechnicalLog log_{defaults_};
  item_fakes::RecordingItemDelegate delegate_;
  CVNQueuePlayerItem::DisplayModeRef mode_ = item_fakes::displayMode(1920, 1080);
  std::shared_ptr<CVNMediaQueuePlayerItem> item_;
  std::shared_ptr<ScriptedSession> session_;
  std::shared_ptr<item_fakes::ScriptedLiveControls> live_;
};

}  // namespace engine::items
