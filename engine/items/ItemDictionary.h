#pragma once
// The settings dictionary of a queue player item. Most entries are
// property-list values; a few are objects a property list cannot hold (a
// rectangle, a URL, a live source, an opaque object such as graphics
// projects). Readers take an entry only when it has the class they expect,
// so a value of another class counts as absent.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "foundation/geometry/Geometry.h"
#include "media/readers/MediaURL.h"
#include "platform/Value.h"

namespace media {
class CVNZiraSource;
}

namespace engine::items {

using OpaqueObject = std::shared_ptr<const void>;
using ItemValue =
    std::variant<platform::Value, foundation::Rect, media::MediaURL, std::shared_ptr<media::CVNZiraSource>, OpaqueObject>;
using ItemDictionary = std::map<std::string, ItemValue, std::less<>>;

// The property-list value under `key`; nullptr when absent or another class.
const platform::Value* plistValueForKey(const ItemDictionary& dictionary, std::string_view key);
// Numbers (booleans count, as numbers do in property lists).
std::optional<double> numberForKey(const ItemDictionary& dictionary, std::string_view key);
std::optional<std::int64_t> integerForKey(const ItemDictionary& dictionary, std::string_view key);
std::optional<bool> boolForKey(const ItemDictionary& dictionary, std::string_view key);
// A number that is finite: NaN or infinite times count as absent.
std::optional<double> finiteSecondsForKey(const ItemDictionary& dictionary, std::string_view key);
const std::string* stringForKey(const ItemDictionary& dictionary, std::string_view key);
const platform::Dictionary* plistDictionaryForKey(const ItemDictionary& dictionary, std::string_view key);
template <typename T>
const T* objectForKey(const ItemDictionary& dictionary, std::string_view key) {
  const auto found = dictionary.find(key);
  return found == dictionary.end() ? nullptr : std::get_if<T>(&found->second);
}

// The property-list entries of `dictionary` (objects are left out).
platform::Dictionary plistEntries(const ItemDictionary& dictionary);
ItemDictionary itemDictionaryFromPlist(const platform::Dictionary& dictionary);

}  // namespace engine::items
