#pragma once
// NSIndexSetEnumerator: walks the indexes of an index set (or of the part of
// it that lies in a range) one by one, ascending, from a private copy, so the
// set may change while the enumerator is in use.
//
// Owned by whoever enumerates; not thread-safe (one thread at a time).
// Indexes are handed out as their low 32 bits, as the enumerator's clients
// count rows in 32 bits.

#include <cstdint>
#include <set>
#include <vector>

namespace foundation {

class NSIndexSetEnumerator {
 public:
  using IndexSet = std::set<std::uint64_t>;
  static constexpr std::uint32_t kNoIndex = 0xFFFFFFFF;

  // Every index of the set.
  static NSIndexSetEnumerator indexSetEnumeratorWithIndexSet(const IndexSet& indexes);
  // The indexes of the set from `location` for `length` indexes.
  static NSIndexSetEnumerator indexSetEnumeratorWithIndexSet(const IndexSet& indexes, std::uint64_t location,
                                                             std::uint64_t length);
  NSIndexSetEnumerator(const IndexSet& indexes, std::uint64_t location, std::uint64_t length);

  // Advances; false once every index has been handed out, else stores the
  // next index (low 32 bits) in `index`.
  bool nextIndex(std::uint32_t& index);
  // The index at `position` (low 32 bits), or kNoIndex past the end.
  std::uint32_t indexAtIndex(std::uint32_t position) const;
  // Back to before the first index.
  void reset() { position_ = kBeforeFirst; }
  std::uint32_t count() const { return static_cast<std::uint32_t>(indexes_.size()); }

 private:
  static constexpr std::uint32_t kBeforeFirst = 0xFFFFFFFF;

  void copyIndexes(IndexSet::const_iterator begin, IndexSet::const_iterator end);

  std::uint32_t position_ = kBeforeFirst;  // position of the last index handed out
  std::vector<std::uint64_t> indexes_;
};

}  // namespace foundation
