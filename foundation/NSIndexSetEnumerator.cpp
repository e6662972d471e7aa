#include "foundation/NSIndexSetEnumerator.h"

#include <limits>

namespace foundation {

NSIndexSetEnumerator NSIndexSetEnumerator::indexSetEnumeratorWithIndexSet(const IndexSet& indexes) {
  NSIndexSetEnumerator enumerator(indexes, 0, 0);
  enumerator.copyIndexes(indexes.begin(), indexes.end());
  return enumerator;
}

NSIndexSetEnumerator NSIndexSetEnumerator::indexSetEnumeratorWithIndexSet(const IndexSet& indexes,
                                                                          std::uint64_t location,
                                                                          std::uint64_t length) {
  return NSIndexSetEnumerator(indexes, location, length);
}

NSIndexSetEnumerator::NSIndexSetEnumerator(const IndexSet& indexes, std::uint64_t location, std::uint64_t length) {
  if (length == 0) return;
  // The range's last index, saturated instead of wrapping past the top.
  const std::uint64_t last =
      length - 1 > std::numeric_limits<std::uint64_t>::max() - location ? std::numeric_limits<std::uint64_t>::max()
                                                                         : location + (length - 1);
  copyIndexes(indexes.lower_bound(location), indexes.upper_bound(last));
}

void NSIndexSetEnumerator::copyIndexes(IndexSet::const_iterator begin, IndexSet::const_iterator end) {
  // Positions are 32-bit and kNoIndex means "none", so the copy stops short of it.
  for (auto it = begin; it != end && indexes_.size() < kNoIndex - 1; ++it) indexes_.push_back(*it);
}

bool NSIndexSetEnumerator::nextIndex(std::uint32_t& index) {
  const std::uint32_t next = position_ + 1;  // wraps from "before the first" to 0
  if (next >= count()) return false;
  position_ = next;
  index = static_cast<std::uint32_t>(indexes_[next]);
  return true;
}

std::uint32_t NSIndexSetEnumerator::indexAtIndex(std::uint32_t position) const {
  if (position >= count()) return kNoIndex;
  return static_cast<std::uint32_t>(indexes_[position]);
}

}  // namespace foundation
