#include "tests/engine/items/ItemFakes.h"

#include <gtest/gtest.h>

#include "tests/support/RunLoopWait.h"

namespace item_fakes {

RecordingItemDelegate::RecordingItemDelegate()
    : queue_(std::make_shared<platform::SerialQueue>("com.dirarovazovo.queuePlayer.test")) {}

void RecordingItemDelegate::add(std::string call) {
  std::lock_guard guard(mutex_);
  if (!queue_->isCurrent()) offQueue_ = true;
  calls_.push_back(std::move(call));
}

std::vector<std::string> RecordingItemDelegate::calls() const {
  std::lock_guard guard(mutex_);
  return calls_;
}

bool RecordingItemDelegate::allCallsOnQueue() const {
  std::lock_guard guard(mutex_);
  return !offQueue_;
}

void RecordingItemDelegate::clear() {
  std::lock_guard guard(mutex_);
  calls_.clear();
}

void RecordingItemDelegate::runOnQueue(const std::function<void()>& task) {
  testing_support::Signal done;
  queue_->async([&] {
    task();
    done.raise();
  });
  ASSERT_TRUE(done.waitFor()) << "the delegate's queue did not run the task";
}

std::shared_ptr<const pluginframework::CVNDisplayMode> displayMode(std::int32_t width, std::int32_t height,
                                                                   std::int64_t frameDuration, std::int32_t timeScale,
                                                                   pluginframework::FieldDominance dominance) {
  return std::make_shared<pluginframework::CVNDisplayMode>("test", frameDuration, timeScale, width, height, dominance);
}

std::shared_ptr<platform::media::PixelBufferPool> outputPool(platform::media::FourCharCode format, std::size_t width,
                                                             std::size_t height) {
  platform::media::PixelBufferPoolAttributes attributes;
  attributes.pixelFormat = format;
  attributes.width = width;
  attributes.height = height;
  std::shared_ptr<platform::media::PixelBufferPool> pool;
  platform::media::PixelBufferPool::create(attributes, &pool);
  return pool;
}

}  // namespace item_fakes
