#include "engine/items/ItemDictionary.h"

#include <cmath>

namespace engine::items {

namespace {

const platform::Value* numeric(const ItemDictionary& dictionary, std::string_view key) {
  const auto* value = plistValueForKey(dictionary, key);
  return value && (value->isNumber() || value->isBoolean()) ? value : nullptr;
}

}  // namespace

const platform::Value* plistValueForKey(const ItemDictionary& dictionary, std::string_view key) {
  return objectForKey<platform::Value>(dictionary, key);
}

std::optional<double> numberForKey(const ItemDictionary& dictionary, std::string_view key) {
  const auto* value = numeric(dictionary, key);
  return value ? value->real() : std::nullopt;
}

std::optional<std::int64_t> integerForKey(const ItemDictionary& dictionary, std::string_view key) {
  const auto* value = numeric(dictionary, key);
  return value ? value->integer() : std::nullopt;
}

std::optional<bool> boolForKey(const ItemDictionary& dictionary, std::string_view key) {
  const auto* value = numeric(dictionary, key);
  return value ? value->boolean() : std::nullopt;
}

std::optional<double> finiteSecondsForKey(const ItemDictionary& dictionary, std::string_view key) {
  const auto seconds = numberForKey(dictionary, key);
  return seconds && std::isfinite(*seconds) ? seconds : std::nullopt;
}

const std::string* stringForKey(const ItemDictionary& dictionary, std::string_view key) {
  const auto* value = plistValueForKey(dictionary, key);
  return value ? value->string() : nullptr;
}

const platform::Dictionary* plistDictionaryForKey(const ItemDictionary& dictionary, std::string_view key) {
  const auto* value = plistValueForKey(dictionary, key);
  return value ? value->dictionary() : nullptr;
}

platform::Dictionary plistEntries(const ItemDictionary& dictionary) {
  platform::Dictionary entries;
  for (const auto& [key, value] : dictionary) {
    if (const auto* plist = std::get_if<platform::Value>(&value)) entries.emplace(key, *plist);
  }
  return entries;
}

ItemDictionary itemDictionaryFromPlist(const platform::Dictionary& dictionary) {
  ItemDictionary items;
  for (const auto& [key, value] : dictionary) items.emplace(key, value);
  return items;
}

}  // namespace engine::items
