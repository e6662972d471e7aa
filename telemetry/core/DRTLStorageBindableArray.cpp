#include "telemetry/core/DRTLStorageBindableArray.h"

#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {

int DRTLStorageTextType::bindWithStatement(sqlite3_stmt* statement, int index) const {
  if (!value) return sqlite3_bind_null(statement, index);
  return sqlite3_bind_text64(statement, index, value->data(), value->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

int DRTLStorageNumberType::bindWithStatement(sqlite3_stmt* statement, int index) const {
  return sqlite3_bind_int64(statement, index, value);
}

void DRTLStorageBindableArray::addString(std::optional<std::string> value) {
  array_.push_back(std::make_unique<DRTLStorageTextType>(std::move(value)));
}

void DRTLStorageBindableArray::addNumber(std::int64_t value) {
  array_.push_back(std::make_unique<DRTLStorageNumberType>(value));
}

int DRTLStorageBindableArray::bindAllValuesWithStatement(sqlite3_stmt* statement, sqlite3* database) const {
  for (std::size_t i = 0; i < array_.size(); ++i) {
    const int position = static_cast<int>(i) + 1;
    const int result = array_[i]->bindWithStatement(statement, position);
    if (result != SQLITE_OK) {
      DRTLLogError("Binding query parameter " + std::to_string(position) + " failed with error: " +
                   std::to_string(result) + ". Message: " + sqlite3_errmsg(database));
      return result;
    }
  }
  return SQLITE_OK;
}

}  // namespace telemetry::core
