#include "platform/media/PixelBufferPool.h"

#include <mutex>
#include <vector>

namespace platform::media {

struct PixelBufferPool::State : std::enable_shared_from_this<PixelBufferPool::State> {
  PixelBufferPoolAttributes attributes;
  const PixelFormatDescription* description = nullptr;
  mutable std::mutex mutex;
  std::vector<std::unique_ptr<PixelBuffer>> free;  // guarded by mutex
  std::size_t created = 0;                         // guarded by mutex
  std::size_t inUse = 0;                           // guarded by mutex
  std::size_t live = 0;                            // made and not freed; guarded by mutex

  std::unique_ptr<PixelBuffer> make(CVReturn* status) {
    PixelBufferAttributes bufferAttributes;
    bufferAttributes.bytesPerRowAlignment = attributes.bytesPerRowAlignment;
    bufferAttributes.shareable = attributes.shareable;
    std::unique_ptr<PixelBuffer> made;
    *status = PixelBuffer::allocate(attributes.width, attributes.height, *description, bufferAttributes, &made);
    return made;
  }

  void giveBack(PixelBuffer* buffer) {
    std::unique_ptr<PixelBuffer> owned(buffer);
    {
      std::lock_guard lock(attachmentsGuard(owned.get()));
      owned->attachments_.clear();
    }
    owned->readOnlyLocks_ = 0;
    owned->writeLocks_ = 0;
    std::lock_guard lock(mutex);
    --inUse;
    free.push_back(std::move(owned));
  }

  static std::mutex& attachmentsGuard(PixelBuffer* buffer) { return buffer->attachmentsMutex_; }
};

PixelBufferPool::PixelBufferPool(std::shared_ptr<State> state) : state_(std::move(state)) {}
PixelBufferPool::~PixelBufferPool() = default;

CVReturn PixelBufferPool::create(const PixelBufferPoolAttributes& attributes, std::shared_ptr<PixelBufferPool>* out) {
  out->reset();
  if (!isAcceptablePixelBufferSize(attributes.width, attributes.height)) return kCVReturnInvalidSize;
  const PixelFormatDescription* description = pixelFormatDescription(attributes.pixelFormat);
  if (!description) return kCVReturnInvalidPixelFormat;
  if (attributes.maximumBufferCount && *attributes.maximumBufferCount < attributes.minimumBufferCount) {
    return kCVReturnInvalidPoolAttributes;
  }
  auto state = std::make_shared<State>();
  state->attributes = attributes;
  state->description = description;
  // The minimum is made up front so the first frames need no allocation.
  for (std::size_t i = 0; i < attributes.minimumBufferCount; ++i) {
    CVReturn status = kCVReturnSuccess;
    auto buffer = state->make(&status);
    if (!buffer) return kCVReturnPoolAllocationFailed;
    state->free.push_back(std::move(buffer));
    ++state->created;
    ++state->live;
  }
  out->reset(new PixelBufferPool(std::move(state)));
  return kCVReturnSuccess;
}

CVReturn PixelBufferPool::createPixelBuffer(std::shared_ptr<PixelBuffer>* out) {
  out->reset();
  std::unique_ptr<PixelBuffer> buffer;
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->free.empty()) {
      buffer = std::move(state_->free.back());
      state_->free.pop_back();
    } else if (state_->attributes.maximumBufferCount && state_->live >= *state_->attributes.maximumBufferCount) {
      return kCVReturnWouldExceedAllocationThreshold;
    } else {
      ++state_->live;  // reserved before allocating outside the lock
    }
  }
  if (!buffer) {
    CVReturn status = kCVReturnSuccess;
    buffer = state_->make(&status);
    std::lock_guard lock(state_->mutex);
    if (!buffer) {
      --state_->live;
      return kCVReturnPoolAllocationFailed;
    }
    ++state_->created;
  }
  {
    std::lock_guard lock(state_->mutex);
    ++state_->inUse;
  }
  std::weak_ptr<State> weakState = state_;
  *out = std::shared_ptr<PixelBuffer>(buffer.release(), [weakState](PixelBuffer* returned) {
    if (auto state = weakState.lock()) {
      state->giveBack(returned);
    } else {
      delete returned;
    }
  });
  return kCVReturnSuccess;
}

const PixelBufferPoolAttributes& PixelBufferPool::attributes() const { return state_->attributes; }

std::size_t PixelBufferPool::buffersCreated() const {
  std::lock_guard lock(state_->mutex);
  return state_->created;
}

std::size_t PixelBufferPool::buffersInUse() const {
  std::lock_guard lock(state_->mutex);
  return state_->inUse;
}

void PixelBufferPool::flush() {
  std::vector<std::unique_ptr<PixelBuffer>> dropped;
  std::lock_guard lock(state_->mutex);
  // Keep the minimum; free the rest.
  while (state_->free.size() > state_->attributes.minimumBufferCount) {
    dropped.push_back(std::move(state_->free.back()));
    state_->free.pop_back();
    --state_->live;
  }
}

}  // namespace platform::media
