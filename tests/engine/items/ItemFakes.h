#pragma once
// A queue player stand-in that records every call an item makes to it (with
// the thread it came on) and runs item work on a serial queue of its own.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/items/CVNQueuePlayerItemDelegate.h"
#include "platform/media/PixelBufferPool.h"
#include "pluginframework/CVNDisplayMode.h"

namespace item_fakes {

class RecordingItemDelegate final : public engine::items::CVNQueuePlayerItemDelegate {
 public:
  RecordingItemDelegate();

  std::shared_ptr<platform::DispatchQueue> playerItemDelegateDispatchQueue() override { return queue_; }
  std::int32_t fieldToRender() override { return field_; }
  void queuePlayerItemDidInitialize(engine::items::CVNQueuePlayerItem&) override { add("initialized"); }
  void queuePlayerItemDidStartReadingFrames(engine::items::CVNQueuePlayerItem&) override { add("reading"); }
  void queuePlayerItemDidBecomeReadyForPlayback(engine::items::CVNQueuePlayerItem&) override { add("ready"); }
  void queuePlayerItemDidReadAllFrames(engine::items::CVNQueuePlayerItem&) override { add("read all"); }
  void queuePlayerItemDidDecompressAllFrames(engine::items::CVNQueuePlayerItem&) override { add("decompressed all"); }
  void queuePlayerItemDidRenderAllFrames(engine::items::CVNQueuePlayerItem&) override { add("rendered all"); }
  void ziraSessionDidNotReceiveAnyFramesSinceForPlayerItem(media::CVNSessionBase&, double seconds,
                                                           engine::items::CVNQueuePlayerItem&) override {
    add("no frames since " + std::to_string(static_cast<int>(seconds)));
  }
  void queuePlayerItemChangedEndBehaviourFromTo(engine::items::CVNQueuePlayerItem&, std::int32_t from,
                                                std::int32_t to) override {
    add("end behaviour " + std::to_string(from) + " to " + std::to_string(to));
  }

  std::vector<std::string> calls() const;
  // True when every call so far came on the delegate's queue.
  bool allCallsOnQueue() const;
  void clear();
  // Runs `task` on the delegate's queue and waits for it (bounded).
  void runOnQueue(const std::function<void()>& task);
  void setFieldToRender(std::int32_t field) { field_ = field; }

 private:
  void add(std::string call);

  std::shared_ptr<platform::DispatchQueue> queue_;
  std::int32_t field_ = 1;
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;  // guarded by mutex_
  bool offQueue_ = false;           // guarded by mutex_
};

std::shared_ptr<const pluginframework::CVNDisplayMode> displayMode(std::int32_t width, std::int32_t height,
                                                                   std::int64_t frameDuration = 1000,
                                                                   std::int32_t timeScale = 25000,
                                                                   pluginframework::FieldDominance dominance =
                                                                       pluginframework::FieldDominance::Progressive);

// A pool of output pictures, as the engine shares with its items.
std::shared_ptr<platform::media::PixelBufferPool> outputPool(platform::media::FourCharCode format, std::size_t width,
                                                             std::size_t height);

}  // namespace item_fakes
