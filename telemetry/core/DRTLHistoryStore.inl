// Saving and loading histories (included by DRTLHistoryInfo.h).
#pragma once

#include "telemetry/core/DRTLDirAradedUserDefaults.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {

template <typename T>
void saveHistory(const std::vector<std::shared_ptr<T>>& history, const std::string& key) {
  DRTLArchivedArray array;
  array.elements.assign(history.begin(), history.end());
  if (std::optional<std::string> bytes = DRTLUtility::archiveKeyedData(&array)) {
    DRTLDirAradedUserDefaults::shared()->setObject(platform::Value(platform::Data(bytes->begin(), bytes->end())), key);
  }
}

template <typename T>
std::vector<std::shared_ptr<T>> loadHistory(const std::string& key) {
  const platform::Value stored = DRTLDirAradedUserDefaults::shared()->objectForKey(key);
  const platform::Data* bytes = stored.data();
  if (!bytes) return {};
  std::shared_ptr<platform::Archivable> object =
      DRTLUtility::unarchiveKeyedData(std::string(bytes->begin(), bytes->end()));
  if (!object) return {};  // the unarchiving logged why
  auto array = std::dynamic_pointer_cast<DRTLArchivedArray>(object);
  std::vector<std::shared_ptr<T>> history;
  if (array) {
    for (const auto& element : array->elements) {
      auto entry = std::dynamic_pointer_cast<T>(element);
      if (!entry) {
        array.reset();
        break;
      }
      history.push_back(std::move(entry));
    }
  }
  if (!array) {
    DRTLLogError("Unarchiving NSData failed with error: the history under \"" + key + "\" is not readable");
    return {};
  }
  return history;
}

}  // namespace telemetry::core
