#pragma once
// Small array helpers of the collection categories, for any element type
// (platform::Array of values, lists of objects held by shared_ptr, ...).
//
// Stateless function templates; thread-safe as far as the caller's array is.

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <vector>

namespace foundation {

// The elements in reverse order.
template <typename T>
std::vector<T> reversedArray(const std::vector<T>& array) {
  return std::vector<T>(array.rbegin(), array.rend());
}

// The elements not equal to `object` (operator==), in order.
template <typename T>
std::vector<T> arrayByRemovingObject(const std::vector<T>& array, const T& object) {
  std::vector<T> result;
  result.reserve(array.size());
  std::copy_if(array.begin(), array.end(), std::back_inserter(result), [&](const T& element) { return !(element == object); });
  return result;
}

// None for an empty array, else the first element.
template <typename T>
std::optional<T> firstObject(const std::vector<T>& array) {
  if (array.empty()) return std::nullopt;
  return array.front();
}

// `count` copies of `object`; empty for a count of zero or less.
template <typename T>
std::vector<T> myMutableArrayWithObject(const T& object, std::int64_t count) {
  if (count <= 0) return {};
  return std::vector<T>(static_cast<std::size_t>(count), object);
}

}  // namespace foundation
