#pragma once
// Memory for one upload segment: allocated on huge pages where the kernel
// allows, since touching megabytes of fresh small pages costs more than
// sending them over loopback. Reused from segment to segment.
#include <cstddef>
#include <string_view>

namespace support {

class SegmentBuffer {
 public:
  // data() is null when the memory cannot be had.
  explicit SegmentBuffer(std::size_t capacity);
  ~SegmentBuffer();
  SegmentBuffer(const SegmentBuffer&) = delete;
  SegmentBuffer& operator=(const SegmentBuffer&) = delete;

  char* data() const { return data_; }
  std::size_t capacity() const { return capacity_; }

  std::string_view bytes;  // the part filled, inside data()

 private:
  char* data_ = nullptr;
  std::size_t capacity_ = 0;
};

}  // namespace support
