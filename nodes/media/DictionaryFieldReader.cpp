#include "nodes/media/DictionaryFieldReader.h"

#include <algorithm>
#include <cmath>

#include "nodes/media/NodeModelErrors.h"

namespace nodes::detail {

DictionaryFieldReader::DictionaryFieldReader(const platform::Dictionary& dictionary, std::string what)
    : what_(std::move(what)) {
  if (dictionary.empty()) return;
  index(dictionary.begin()->first, dictionary.rbegin()->first);
  entries_.reserve(dictionary.size());
  for (const auto& [key, value] : dictionary) {
    entries_.push_back({std::string_view(key).substr(sharedPrefix_.size()), &value});
  }
}

DictionaryFieldReader::DictionaryFieldReader(const SortedEntries& entries, std::string what,
                                             DictionaryLookupMemo* memo)
    : memo_(memo), what_(std::move(what)) {
  if (entries.empty()) return;
  index(entries.front().first, entries.back().first);
  entries_.reserve(entries.size());
  for (const auto& [key, value] : entries) entries_.push_back({key.substr(sharedPrefix_.size()), value});
}

void DictionaryFieldReader::index(std::string_view first, std::string_view last) {
  // In sorted order, what the first and last keys share every key shares.
  sharedPrefix_ = first.substr(0, static_cast<std::size_t>(
                                      std::mismatch(first.begin(), first.end(), last.begin(), last.end()).first -
                                      first.begin()));
}

namespace {

// Keys after the prefix mostly differ in their first byte: compared first,
// without a call.
bool keyBefore(std::string_view a, std::string_view b) {
  if (!a.empty() && !b.empty() && a.front() != b.front())
    return static_cast<unsigned char>(a.front()) < static_cast<unsigned char>(b.front());
  return a < b;
}

}  // namespace

const platform::Value* DictionaryFieldReader::entry(std::string_view key) const {
  const std::size_t lookup = lookups_++;
  if (!key.starts_with(sharedPrefix_)) return nullptr;
  key.remove_prefix(sharedPrefix_.size());
  std::size_t place = entries_.size() + 1;
  if (memo_ && lookup < memo_->places_.size()) place = memo_->places_[lookup];
  // The remembered place is where the key belongs when it is not after the
  // key before it nor before the key at it.
  const bool placeFits = place <= entries_.size() &&
                         (place == 0 || keyBefore(entries_[place - 1].keyAfterPrefix, key)) &&
                         (place == entries_.size() || !keyBefore(entries_[place].keyAfterPrefix, key));
  if (!placeFits) {
    place = static_cast<std::size_t>(
        std::lower_bound(entries_.begin(), entries_.end(), key,
                         [](const Entry& e, std::string_view k) { return keyBefore(e.keyAfterPrefix, k); }) -
        entries_.begin());
    if (memo_) {
      if (lookup >= memo_->places_.size()) memo_->places_.resize(lookup + 1);
      memo_->places_[lookup] = static_cast<std::uint32_t>(place);
    }
  }
  if (place == entries_.size() || entries_[place].keyAfterPrefix != key) return nullptr;
  return entries_[place].value;
}

const platform::Value* DictionaryFieldReader::find(std::string_view key) const {
  const platform::Value* value = entry(key);
  return value && !value->isNone() ? value : nullptr;
}

void DictionaryFieldReader::refuse(std::string_view key, bool outOfRange, std::string_view expected,
                                   const platform::Value& found) {
  if (!outOfRange) anyWrongType_ = true;
  badKeys_.emplace_back(key);
  std::string problem = "\"" + std::string(key) + "\": ";
  problem += outOfRange ? "out of range (" : "expected " + std::string(expected) + ", found ";
  problem += outOfRange ? found.describe() + ")" : std::string(platform::typeName(found.type()));
  problems_.push_back(std::move(problem));
}

std::optional<std::string> DictionaryFieldReader::string(std::string_view key) {
  const platform::Value* value = find(key);
  if (!value) return std::nullopt;
  if (const std::string* text = value->string()) return *text;
  refuse(key, false, "a string", *value);
  return std::nullopt;
}

std::optional<std::int64_t> DictionaryFieldReader::integer(std::string_view key, std::int64_t min, std::int64_t max) {
  const platform::Value* value = find(key);
  if (!value) return std::nullopt;
  if (!value->isNumber()) {
    refuse(key, false, "a number", *value);
    return std::nullopt;
  }
  if (value->isReal()) {
    double real = *value->real();
    // Compare as doubles first: the truncating conversion saturates.
    if (!std::isfinite(real) || real < static_cast<double>(min) || real >= static_cast<double>(max) + 1.0) {
      refuse(key, true, "", *value);
      return std::nullopt;
    }
  }
  std::int64_t number = *value->integer();
  if (number < min || number > max) {
    refuse(key, true, "", *value);
    return std::nullopt;
  }
  return number;
}

std::optional<double> DictionaryFieldReader::real(std::string_view key, double min, double max) {
  const platform::Value* value = find(key);
  if (!value) return std::nullopt;
  if (!value->isNumber()) {
    refuse(key, false, "a number", *value);
    return std::nullopt;
  }
  double number = *value->real();
  if (!std::isfinite(number) || number < min || number > max) {
    refuse(key, true, "", *value);
    return std::nullopt;
  }
  return number;
}

std::optional<bool> DictionaryFieldReader::boolean(std::string_view key) {
  const platform::Value* value = find(key);
  if (!value) return std::nullopt;
  if (value->isBoolean() || value->isInteger()) return value->boolean();
  refuse(key, false, "a boolean", *value);
  return std::nullopt;
}

std::optional<platform::Date> DictionaryFieldReader::date(std::string_view key) {
  const platform::Value* value = find(key);
  if (!value) return std::nullopt;
  if (value->isDate()) return value->date();
  refuse(key, false, "a date", *value);
  return std::nullopt;
}

std::optional<platform::Dictionary> DictionaryFieldReader::dictionary(std::string_view key) {
  const platform::Value* value = find(key);
  if (!value) return std::nullopt;
  if (const platform::Dictionary* dictionary = value->dictionary()) return *dictionary;
  refuse(key, false, "a dictionary", *value);
  return std::nullopt;
}

std::optional<std::vector<std::string>> DictionaryFieldReader::stringArray(std::string_view key) {
  const platform::Value* value = find(key);
  if (!value) return std::nullopt;
  const platform::Array* array = value->array();
  if (!array) {
    refuse(key, false, "an array of strings", *value);
    return std::nullopt;
  }
  std::vector<std::string> strings;
  strings.reserve(array->size());
  for (const platform::Value& element : *array) {
    const std::string* text = element.string();
    if (!text) {
      refuse(key, false, "an array of strings", element);
      return std::nullopt;
    }
    strings.push_back(*text);
  }
  return strings;
}

platform::Status DictionaryFieldReader::status() const {
  if (badKeys_.empty()) return platform::Status::success();
  std::string description = what_ + ": refused ";
  for (std::size_t i = 0; i < problems_.size(); ++i) description += (i ? "; " : "") + problems_[i];
  platform::Array keys(badKeys_.begin(), badKeys_.end());
  NodeModelErrorCode code = anyWrongType_ ? NodeModelErrorCode::WrongType : NodeModelErrorCode::OutOfRange;
  return platform::Error(kNodeModelErrorDomain, code, std::move(description),
                         platform::Dictionary{{kNodeModelErrorKeysKey, platform::Value(std::move(keys))}});
}

}  // namespace nodes::detail
