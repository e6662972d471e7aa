#include "platform/media/BlockBuffer.h"

namespace platform::media {

BlockBuffer::~BlockBuffer() {
  if (release_) release_();
}

std::shared_ptr<BlockBuffer> BlockBuffer::create(std::size_t length) {
  std::shared_ptr<BlockBuffer> block(new BlockBuffer);
  block->owned_.assign(length, 0);
  block->data_ = block->owned_.data();
  block->length_ = length;
  return block;
}

std::shared_ptr<BlockBuffer> BlockBuffer::createWithCopy(std::span<const std::uint8_t> bytes) {
  std::shared_ptr<BlockBuffer> block(new BlockBuffer);
  block->owned_.assign(bytes.begin(), bytes.end());
  block->data_ = block->owned_.data();
  block->length_ = bytes.size();
  return block;
}

std::shared_ptr<BlockBuffer> BlockBuffer::createWithMemory(std::uint8_t* data, std::size_t length,
                                                           ReleaseCallback release) {
  std::shared_ptr<BlockBuffer> block(new BlockBuffer);
  block->data_ = data;
  block->length_ = length;
  block->release_ = std::move(release);
  return block;
}

std::shared_ptr<BlockBuffer> BlockBuffer::createReferencing(std::shared_ptr<BlockBuffer> parent, std::size_t offset,
                                                            std::size_t length) {
  if (!parent || offset > parent->length_ || length > parent->length_ - offset) return nullptr;
  std::shared_ptr<BlockBuffer> block(new BlockBuffer);
  block->data_ = parent->data_ + offset;
  block->length_ = length;
  block->parent_ = std::move(parent);
  return block;
}

}  // namespace platform::media
