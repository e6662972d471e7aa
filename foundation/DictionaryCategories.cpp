#include "foundation/DictionaryCategories.h"

namespace foundation {
namespace {

const platform::Value& emptyString() {
  static const platform::Value empty{std::string()};
  return empty;
}

}  // namespace

void setNoNillObject(platform::Dictionary& dictionary, std::string key, platform::Value object) {
  if (object.isNone()) return;
  dictionary.insert_or_assign(std::move(key), std::move(object));
}

void setNoNillValue(platform::Dictionary& dictionary, std::string key, platform::Value value) {
  dictionary.insert_or_assign(std::move(key), value.isNone() ? emptyString() : std::move(value));
}

const platform::Value& noNillObjectForKey(const platform::Dictionary& dictionary, std::string_view key) {
  const auto found = dictionary.find(key);
  if (found == dictionary.end() || found->second.isNone()) return emptyString();
  return found->second;
}

const platform::Value& noNillObjectForKey(const platform::Value& dictionary, std::string_view key) {
  const platform::Value& value = dictionary[key];
  return value.isNone() ? emptyString() : value;
}

const platform::Value& noNillValueForKey(const platform::Dictionary& dictionary, std::string_view key) {
  return noNillObjectForKey(dictionary, key);
}

const platform::Value& noNillValueForKey(const platform::Value& dictionary, std::string_view key) {
  return noNillObjectForKey(dictionary, key);
}

std::optional<platform::Dictionary> mergedDictWithMasterDict(const std::optional<platform::Dictionary>& master,
                                                             const std::optional<platform::Dictionary>& other) {
  if (!master) return other;
  if (!other) return master;
  platform::Dictionary merged = *master;
  merged.insert(other->begin(), other->end());  // insert keeps master's entry on a shared key
  return merged;
}

}  // namespace foundation
