#pragma once
// Typed, range-checked reads of one dictionary's keys, shared by the loaders
// of the node media model. A key that is absent reads as nothing and is not a
// problem; a key of the wrong type or out of range reads as nothing and is
// recorded, so that the caller keeps its field's value and can report every
// bad key at once.
//
// A reader lives for one load on the caller's thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes::detail {

// Where each lookup of a reader landed among its keys, in lookup order.
// Readers of records that share their keys (the rows of one file) ask for the
// same keys in the same order: given the previous reader's memo, the next
// confirms each place with two comparisons instead of a search. A place that
// no longer fits is searched for and noted, so a record reads the same with
// or without a memo. One load's thread.
class DictionaryLookupMemo {
 private:
  friend class DictionaryFieldReader;
  std::vector<std::uint32_t> places_;
};

class DictionaryFieldReader {
 public:
  // `what` names the object in error texts ("MediaItem"). `dictionary` must
  // outlive the reader.
  DictionaryFieldReader(const platform::Dictionary& dictionary, std::string what);
  // The same over (key, value) pairs in strictly ascending key order, for
  // callers that read entries without building a dictionary. The keys and
  // values must outlive the reader; so must `memo` (not owned), where each
  // lookup is first looked for.
  using SortedEntries = std::vector<std::pair<std::string_view, const platform::Value*>>;
  DictionaryFieldReader(const SortedEntries& entries, std::string what, DictionaryLookupMemo* memo = nullptr);

  bool contains(std::string_view key) const { return entry(key) != nullptr; }
  // The key's value (none included), or nullptr without such a key.
  const platform::Value* entry(std::string_view key) const;

  std::optional<std::string> string(std::string_view key);
  // Integers and reals (a real must be finite and is truncated toward zero);
  // anything outside [min, max] is out of range.
  std::optional<std::int64_t> integer(std::string_view key, std::int64_t min, std::int64_t max);
  // Integers and reals, finite and within [min, max].
  std::optional<double> real(std::string_view key, double min, double max);
  // Booleans, and integers (non-zero is true).
  std::optional<bool> boolean(std::string_view key);
  std::optional<platform::Date> date(std::string_view key);
  std::optional<platform::Dictionary> dictionary(std::string_view key);
  // An array whose every element is a string.
  std::optional<std::vector<std::string>> stringArray(std::string_view key);

  // Success, or one error naming every key that was refused.
  platform::Status status() const;

 private:
  void index(std::string_view first, std::string_view last);
  // The key's value, or nullptr when it is absent or none.
  const platform::Value* find(std::string_view key) const;
  void refuse(std::string_view key, bool outOfRange, std::string_view expected, const platform::Value& found);

  struct Entry {
    std::string_view keyAfterPrefix;
    const platform::Value* value;
  };

  // Keys of one vocabulary share a long prefix ("clipInfo…"): lookups compare
  // only what follows it, in a sorted array.
  std::string_view sharedPrefix_;
  std::vector<Entry> entries_;
  DictionaryLookupMemo* memo_ = nullptr;  // not owned; outlives this reader
  mutable std::size_t lookups_ = 0;       // entry() calls so far: the index into memo_
  std::string what_;
  std::vector<std::string> badKeys_;
  std::vector<std::string> problems_;
  bool anyWrongType_ = false;
};

}  // namespace nodes::detail
