#include "app/shell/CountDownWindowRecord.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "foundation/GenerateUniqueID.h"

namespace app {
namespace {

using platform::Value;

std::optional<std::int64_t> integerEntry(const Value& record, const char* key) {
  const Value& value = record[key];
  // A boolean or a text is no coordinate, however it would convert.
  if (!value.isNumber()) return std::nullopt;
  return value.integer();
}

std::optional<WindowFrame> frameEntry(const Value& record) {
  const auto x = integerEntry(record, kRecordXKey);
  const auto y = integerEntry(record, kRecordYKey);
  const auto w = integerEntry(record, kRecordWidthKey);
  const auto h = integerEntry(record, kRecordHeightKey);
  if (!x || !y || !w || !h) return std::nullopt;
  const auto isSide = [](std::int64_t side) { return side > 0 && side <= kLargestWindowSide; };
  if (!isSide(*w) || !isSide(*h)) return std::nullopt;
  // Far-off corners are brought on screen by the window; these only keep the sums finite.
  constexpr std::int64_t kFarthest = 1'000'000;
  if (std::abs(*x) > kFarthest || std::abs(*y) > kFarthest) return std::nullopt;
  return WindowFrame{*x, *y, *w, *h};
}

platform::Array storedRecords(const platform::UserDefaults& defaults) {
  return defaults.arrayForKey(kCountDownWindowPositionsKey).value_or(platform::Array{});
}

void store(platform::UserDefaults& defaults, platform::Array records) {
  if (records.size() > kMostSavedWindows) {
    records.erase(records.begin(), records.end() - static_cast<std::ptrdiff_t>(kMostSavedWindows));
  }
  defaults.setObject(Value(std::move(records)), kCountDownWindowPositionsKey);
  (void)defaults.synchronize();
}

// Removes the last record of `uniqueID`; answers whether there was one.
bool eraseLast(platform::Array& records, const std::string& uniqueID) {
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if ((*it)[kRecordUniqueIDKey].stringOr("") != uniqueID) continue;
    records.erase(std::next(it).base());
    return true;
  }
  return false;
}

}  // namespace

std::optional<CountDownWindowRecord> CountDownWindowRecord::fromValue(const platform::Value& value) {
  if (!value.isDictionary()) return std::nullopt;
  CountDownWindowRecord record;
  record.frame = frameEntry(value);
  const std::string* uniqueID = value[kRecordUniqueIDKey].string();
  record.uniqueID = uniqueID && !uniqueID->empty() ? *uniqueID : foundation::GenerateUniqueID::generateUniqueID();
  if (const std::string* node = value[kRecordNodeUniqueIDKey].string()) record.nodeUniqueID = *node;
  const std::optional<std::int64_t> type = integerEntry(value, kRecordTimeCountTypeKey);
  if (type && *type >= kFirstTimeCountType && *type <= kLastTimeCountType) {
    record.timeCountType = static_cast<std::int32_t>(*type);
  }
  const Value& fullScreen = value[kRecordFullScreenKey];
  record.fullScreen = (fullScreen.isBoolean() || fullScreen.isInteger()) && fullScreen.booleanOr(false);
  return record;
}

platform::Dictionary CountDownWindowRecord::toDictionary() const {
  const WindowFrame f = frame.value_or(WindowFrame{});
  return {{kRecordXKey, Value(f.x)},
          {kRecordYKey, Value(f.y)},
          {kRecordWidthKey, Value(f.w)},
          {kRecordHeightKey, Value(f.h)},
          {kRecordUniqueIDKey, Value(uniqueID)},
          {kRecordNodeUniqueIDKey, Value(nodeUniqueID)},
          {kRecordTimeCountTypeKey, Value(timeCountType)},
          {kRecordFullScreenKey, Value(fullScreen)}};
}

std::vector<CountDownWindowRecord> savedCountDownWindows(const platform::UserDefaults& defaults) {
  std::vector<CountDownWindowRecord> records;
  std::set<std::string> seen;
  for (const Value& value : storedRecords(defaults)) {
    if (records.size() == kMostSavedWindows) break;
    std::optional<CountDownWindowRecord> record = CountDownWindowRecord::fromValue(value);
    // A second window of the same identity would overwrite the first one's record.
    if (!record || !seen.insert(record->uniqueID).second) continue;
    records.push_back(std::move(*record));
  }
  return records;
}

void saveCountDownWindowRecord(platform::UserDefaults& defaults, const CountDownWindowRecord& record) {
  platform::Array records = storedRecords(defaults);
  eraseLast(records, record.uniqueID);
  records.emplace_back(record.toDictionary());
  store(defaults, std::move(records));
}

void removeCountDownWindowRecord(platform::UserDefaults& defaults, const std::string& uniqueID) {
  platform::Array records = storedRecords(defaults);
  if (eraseLast(records, uniqueID)) store(defaults, std::move(records));
}

void rewriteCountDownWindowRecords(platform::UserDefaults& defaults, const std::vector<CountDownWindowRecord>& records) {
  platform::Array values;
  for (const CountDownWindowRecord& record : records) values.emplace_back(record.toDictionary());
  store(defaults, std::move(values));
}

}  // namespace app
