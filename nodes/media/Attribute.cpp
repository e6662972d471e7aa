#include "nodes/media/Attribute.h"

#include <algorithm>

#include "foundation/NameComparison.h"
#include "nodes/media/DictionaryFieldReader.h"

namespace nodes {

namespace {

constexpr const char* kDisplayNameKey = "displayName";
constexpr const char* kNameKey = "name";
constexpr const char* kDefaultValueKey = "attributeDefaultValue";
constexpr const char* kPluginNameKey = "pluginName";
constexpr const char* kPossibleValuesKey = "attributePossibleValues";
constexpr const char* kTypeKey = "attributeType";
constexpr const char* kIsWritableKey = "isWritable";

void sortPossibleValues(std::optional<std::vector<std::string>>& values) {
  if (!values) return;
  std::stable_sort(values->begin(), values->end(), [](const std::string& a, const std::string& b) {
    return foundation::caseInsensitiveCompareWithNumber(a, b) < 0;
  });
}

void putIfSet(platform::Dictionary& dict, const char* key, const std::optional<std::string>& value) {
  if (value) dict[key] = *value;
}

}  // namespace

Attribute::Attribute(const Attribute& other) {
  std::lock_guard guard(other.lock_);
  displayName_ = other.displayName_;
  name_ = other.name_;
  value_ = other.value_;
  defaultValue_ = other.defaultValue_;
  valueType_ = other.valueType_;
  pluginName_ = other.pluginName_;
  possibleValues_ = other.possibleValues_;
  isWritable_ = other.isWritable_;
}

std::shared_ptr<Attribute> Attribute::fromDictionary(const platform::Dictionary& dictionary) {
  auto attribute = std::make_shared<Attribute>();
  (void)attribute->setValuesFromDictionary(dictionary);
  return attribute;
}

platform::Status Attribute::setValuesFromDictionary(const platform::Dictionary& dictionary) {
  detail::DictionaryFieldReader read(dictionary, "Attribute");
  auto name = read.string(kNameKey);
  auto displayName = read.string(kDisplayNameKey);
  auto defaultValue = read.string(kDefaultValueKey);
  auto pluginName = read.string(kPluginNameKey);
  auto possibleValues = read.stringArray(kPossibleValuesKey);
  auto valueType = read.string(kTypeKey);
  auto isWritable = read.boolean(kIsWritableKey);
  sortPossibleValues(possibleValues);

  std::lock_guard guard(lock_);
  if (name) name_ = std::move(name);
  if (displayName) displayName_ = std::move(displayName);
  if (defaultValue) defaultValue_ = std::move(defaultValue);
  if (pluginName) pluginName_ = std::move(pluginName);
  if (possibleValues) possibleValues_ = std::move(possibleValues);
  if (valueType) valueType_ = std::move(valueType);
  if (isWritable) isWritable_ = *isWritable;
  return read.status();
}

std::optional<std::string> Attribute::displayName() const {
  std::lock_guard guard(lock_);
  return displayName_ ? displayName_ : name_;
}

void Attribute::setDisplayName(std::optional<std::string> displayName) {
  std::lock_guard guard(lock_);
  displayName_ = std::move(displayName);
}

std::optional<std::string> Attribute::name() const {
  std::lock_guard guard(lock_);
  return name_;
}

void Attribute::setName(std::optional<std::string> name) {
  std::lock_guard guard(lock_);
  name_ = std::move(name);
}

std::optional<std::string> Attribute::value() const {
  std::lock_guard guard(lock_);
  return value_ ? value_ : defaultValue_;
}

std::optional<std::string> Attribute::valueAsSet() const {
  std::lock_guard guard(lock_);
  return value_;
}

void Attribute::setValue(std::optional<std::string> value) {
  std::lock_guard guard(lock_);
  value_ = std::move(value);
}

std::optional<std::string> Attribute::defaultValue() const {
  std::lock_guard guard(lock_);
  return defaultValue_;
}

void Attribute::setDefaultValue(std::optional<std::string> defaultValue) {
  std::lock_guard guard(lock_);
  defaultValue_ = std::move(defaultValue);
}

std::optional<std::string> Attribute::valueType() const {
  std::lock_guard guard(lock_);
  return valueType_;
}

void Attribute::setValueType(std::optional<std::string> valueType) {
  std::lock_guard guard(lock_);
  valueType_ = std::move(valueType);
}

std::optional<std::string> Attribute::pluginName() const {
  std::lock_guard guard(lock_);
  return pluginName_;
}

void Attribute::setPluginName(std::optional<std::string> pluginName) {
  std::lock_guard guard(lock_);
  pluginName_ = std::move(pluginName);
}

std::optional<std::vector<std::string>> Attribute::possibleValues() const {
  std::lock_guard guard(lock_);
  return possibleValues_;
}

void Attribute::setPossibleValues(std::optional<std::vector<std::string>> possibleValues) {
  sortPossibleValues(possibleValues);
  std::lock_guard guard(lock_);
  possibleValues_ = std::move(possibleValues);
}

bool Attribute::isWritable() const {
  std::lock_guard guard(lock_);
  return isWritable_;
}

void Attribute::setIsWritable(bool isWritable) {
  std::lock_guard guard(lock_);
  isWritable_ = isWritable;
}

int Attribute::compareByName(const Attribute& other) const {
  // Snapshots one after the other: never hold two attributes' locks at once.
  const std::string mine = displayName().value_or("");
  const std::string theirs = other.displayName().value_or("");
  return foundation::caseInsensitiveCompareWithNumber(mine, theirs);
}

platform::Dictionary Attribute::dictionary() const {
  std::lock_guard guard(lock_);
  platform::Dictionary dict;
  putIfSet(dict, kDisplayNameKey, displayName_);
  putIfSet(dict, kNameKey, name_);
  putIfSet(dict, kDefaultValueKey, defaultValue_);
  putIfSet(dict, kPluginNameKey, pluginName_);
  if (possibleValues_) dict[kPossibleValuesKey] = platform::Array(possibleValues_->begin(), possibleValues_->end());
  putIfSet(dict, kTypeKey, valueType_);
  dict[kIsWritableKey] = isWritable_;
  return dict;
}

std::optional<platform::Dictionary> Attribute::dictionaryForNode() const {
  std::lock_guard guard(lock_);
  if (!name_ || !value_) return std::nullopt;
  return platform::Dictionary{{*name_, platform::Value(*value_)}};
}

std::vector<std::string> Attribute::imagesForAttributes(const platform::Dictionary& attributes, bool dark) {
  struct Badge {
    const char* attributeName;
    const char* value;
    bool shownWhenEqual;  // else shown when the value differs
    const char* image;
    const char* darkImage;
  };
  static constexpr Badge kBadges[] = {
      {"Alpha Key", "On", true, "Key", "KeyDark"},
      {"Audio Source", "Player", false, "AudioInput", "AudioInputDark"},
      {"Audio Volume", "1.0", false, "Volume", "VolumeDark"},
      {"Clip End Behaviour", "Loop", true, "Loop", "LoopDark"},
      {"Overlay Logo", "None", false, "Logo", "LogoDark"},
      {"Reverse Field Order", "Reversed", true, "ReverseFieldsOrder", "ReverseFieldsOrderDark"},
  };

  std::vector<std::string> images;
  std::size_t listedPresent = 0;
  for (const Badge& badge : kBadges) {
    auto it = attributes.find(badge.attributeName);
    if (it == attributes.end()) continue;
    ++listedPresent;
    const std::string* text = it->second.string();
    const bool equal = text && *text == badge.value;
    if (equal == badge.shownWhenEqual) images.emplace_back(dark ? badge.darkImage : badge.image);
  }
  if (attributes.size() > listedPresent) images.emplace_back(dark ? "AttributeDark" : "Attribute");
  return images;
}

}  // namespace nodes
