#pragma once
// Attribute: one clip attribute that a node's plug-ins declare ("Audio
// Volume", "Clip End Behaviour", ...), with its possible values, its default
// and the value set for a clip. The node connection fills attributes on its
// polling thread; playlist items and windows read them on the main thread.
//
// Shared through std::shared_ptr. Any thread: every field is guarded by the
// attribute's private lock; readers get copies.
//
// Guarantees: possibleValues stay sorted; dictionaries with missing or
// mistyped keys keep the field values; a copy shares nothing with its source.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes {

// Names of the badge images a playlist row shows for a clip's attributes.
inline constexpr const char* kResizeBadgeImageName = "ResizeBadge";

class Attribute {
 public:
  // All strings and the array none, not writable.
  Attribute() = default;
  Attribute(const Attribute& other);
  Attribute& operator=(const Attribute&) = delete;
  std::shared_ptr<Attribute> copy() const { return std::make_shared<Attribute>(*this); }

  // initWithDictionary: reads the keys dictionary() writes.
  static std::shared_ptr<Attribute> fromDictionary(const platform::Dictionary& dictionary);
  // Sets each field whose key is present and valid; the error names the keys
  // refused.
  platform::Status setValuesFromDictionary(const platform::Dictionary& dictionary);

  // The display name, or the name when there is none.
  std::optional<std::string> displayName() const;
  void setDisplayName(std::optional<std::string> displayName);
  std::optional<std::string> name() const;
  void setName(std::optional<std::string> name);
  // The value, or the default value when none is set.
  std::optional<std::string> value() const;
  // The value as set, without the default.
  std::optional<std::string> valueAsSet() const;
  void setValue(std::optional<std::string> value);
  std::optional<std::string> defaultValue() const;
  void setDefaultValue(std::optional<std::string> defaultValue);
  // e.g. "MultipleValues"
  std::optional<std::string> valueType() const;
  void setValueType(std::optional<std::string> valueType);
  std::optional<std::string> pluginName() const;
  void setPluginName(std::optional<std::string> pluginName);
  std::optional<std::vector<std::string>> possibleValues() const;
  // Stored sorted case-insensitively, digit runs by value.
  void setPossibleValues(std::optional<std::vector<std::string>> possibleValues);
  bool isWritable() const;
  void setIsWritable(bool isWritable);

  // Display names compared case-insensitively, numerically and
  // width-insensitively; different names never compare equal. -1, 0, 1.
  int compareByName(const Attribute& other) const;

  // "displayName", "name", "attributeDefaultValue", "pluginName",
  // "attributePossibleValues", "attributeType" when set; always "isWritable".
  platform::Dictionary dictionary() const;
  // { name: value as set }; none without a name or a value set.
  std::optional<platform::Dictionary> dictionaryForNode() const;

  // The badge image names for a clip's attribute dictionary (name -> value),
  // light or dark, in the playlist row's order. The images are resources of
  // the application, loaded by name by the view that draws them.
  static std::vector<std::string> imagesForAttributes(const platform::Dictionary& attributes, bool dark);

 private:
  mutable std::mutex lock_;
  std::optional<std::string> displayName_;   // guarded by lock_
  std::optional<std::string> name_;          // guarded by lock_
  std::optional<std::string> value_;         // guarded by lock_
  std::optional<std::string> defaultValue_;  // guarded by lock_
  std::optional<std::string> valueType_;     // guarded by lock_
  std::optional<std::string> pluginName_;    // guarded by lock_
  std::optional<std::vector<std::string>> possibleValues_;  // guarded by lock_
  bool isWritable_ = false;                  // guarded by lock_
};

}  // namespace nodes
