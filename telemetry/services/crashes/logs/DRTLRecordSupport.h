#pragma once
// Shared pieces of the crash records: equality of nested records (both unset,
// or equal by the element's own isEqual, arrays in order) and archiving of
// optional nested arrays and unsigned numbers.

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/KeyedArchive.h"
#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/core/DRTLDevice.h"

namespace telemetry::crashes {

using telemetry::core::DRTLJSON;

template <typename T>
bool sameRecord(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
  return (!a && !b) || (a && b && a->isEqual(b.get()));
}

template <typename T>
bool sameRecords(const std::vector<std::shared_ptr<T>>& a, const std::vector<std::shared_ptr<T>>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!sameRecord(a[i], b[i])) return false;
  }
  return true;
}

template <typename T>
bool sameRecords(const std::optional<std::vector<std::shared_ptr<T>>>& a,
                 const std::optional<std::vector<std::shared_ptr<T>>>& b) {
  return (!a && !b) || (a && b && sameRecords(*a, *b));
}

// The array of each element's dictionary, in order.
template <typename T>
DRTLJSON serializeRecords(const std::vector<std::shared_ptr<T>>& records) {
  DRTLJSON array = DRTLJSON::array();
  for (const auto& record : records) array.push_back(record ? record->serializeToDictionary() : DRTLJSON::object());
  return array;
}

template <typename T>
void encodeRecords(platform::KeyedArchiveEncoder& encoder, std::string_view key,
                   const std::optional<std::vector<std::shared_ptr<T>>>& records) {
  if (records) encoder.encodeObjects(key, *records);
}

// None when the key is missing or an element is not a T.
template <typename T>
std::optional<std::vector<std::shared_ptr<T>>> decodeRecords(const platform::KeyedArchiveDecoder& decoder,
                                                             std::string_view key) {
  if (!decoder.contains(key)) return std::nullopt;
  auto records = decoder.decodeObjectsAs<T>(key);
  if (!records.ok()) return std::nullopt;
  return std::move(*records);
}

template <typename T>
std::shared_ptr<T> decodeRecord(const platform::KeyedArchiveDecoder& decoder, std::string_view key) {
  if (!decoder.contains(key)) return nullptr;
  auto record = decoder.decodeObjectAs<T>(key);
  return record.ok() ? *record : nullptr;
}

inline void encodeUnsigned(platform::KeyedArchiveEncoder& encoder, std::string_view key,
                           const std::optional<std::uint64_t>& value) {
  if (value) core::encodeInteger(encoder, key, static_cast<std::int64_t>(*value));
}

inline std::optional<std::uint64_t> decodeUnsigned(const platform::KeyedArchiveDecoder& decoder, std::string_view key) {
  const auto value = core::decodeInteger(decoder, key);
  if (!value) return std::nullopt;
  return static_cast<std::uint64_t>(*value);
}

// Sets `key` when the value is set.
template <typename V>
void putIfSet(DRTLJSON& dictionary, const char* key, const std::optional<V>& value) {
  if (value) dictionary[key] = *value;
}

}  // namespace telemetry::crashes
