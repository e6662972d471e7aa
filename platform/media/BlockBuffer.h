#pragma once
// A block of bytes for compressed samples: owned memory, or a range of
// another block (kept alive by the reference), or caller memory with a
// release callback. Immutable in size once made; the bytes may be written by
// whoever made the block before it is shared. Any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace platform::media {

class BlockBuffer {
 public:
  using ReleaseCallback = std::function<void()>;

  ~BlockBuffer();
  BlockBuffer(const BlockBuffer&) = delete;
  BlockBuffer& operator=(const BlockBuffer&) = delete;

  // Zero-filled owned memory.
  static std::shared_ptr<BlockBuffer> create(std::size_t length);
  static std::shared_ptr<BlockBuffer> createWithCopy(std::span<const std::uint8_t> bytes);
  // Caller memory; `release` runs when the block goes.
  static std::shared_ptr<BlockBuffer> createWithMemory(std::uint8_t* data, std::size_t length, ReleaseCallback release);
  // The bytes [offset, offset + length) of `parent`; nullptr when that range
  // is not inside the parent.
  static std::shared_ptr<BlockBuffer> createReferencing(std::shared_ptr<BlockBuffer> parent, std::size_t offset,
                                                        std::size_t length);

  std::uint8_t* data() const { return data_; }
  std::size_t dataLength() const { return length_; }
  std::span<const std::uint8_t> bytes() const { return {data_, length_}; }

 private:
  BlockBuffer() = default;
  std::uint8_t* data_ = nullptr;
  std::size_t length_ = 0;
  std::vector<std::uint8_t> owned_;
  std::shared_ptr<BlockBuffer> parent_;
  ReleaseCallback release_;
};

}  // namespace platform::media
