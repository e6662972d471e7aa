#include "support/SegmentBuffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace support {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

SegmentBuffer::SegmentBuffer(std::size_t capacity) {
  const std::size_t rounded = (capacity + kHugePage - 1) / kHugePage * kHugePage;
  data_ = static_cast<char*>(std::aligned_alloc(kHugePage, rounded == 0 ? kHugePage : rounded));
  if (!data_) return;
  capacity_ = capacity;
  // Only advice: without huge pages the buffer works the same, more slowly.
  madvise(data_, rounded == 0 ? kHugePage : rounded, MADV_HUGEPAGE);
}

SegmentBuffer::~SegmentBuffer() { std::free(data_); }

}  // namespace support
