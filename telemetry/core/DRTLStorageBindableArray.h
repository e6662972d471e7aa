#pragma once
// Values bound to an SQLite statement, in order from parameter 1. Text binds
// as a transient UTF-8 copy (NULL for none); numbers bind as 64-bit integers.
// A value owned by one caller for one statement.

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace telemetry::core {

class DRTLStorageBindableType {
 public:
  virtual ~DRTLStorageBindableType() = default;
  virtual int bindWithStatement(sqlite3_stmt* statement, int index) const = 0;
};

class DRTLStorageTextType final : public DRTLStorageBindableType {
 public:
  explicit DRTLStorageTextType(std::optional<std::string> value) : value(std::move(value)) {}
  int bindWithStatement(sqlite3_stmt* statement, int index) const override;
  std::optional<std::string> value;
};

class DRTLStorageNumberType final : public DRTLStorageBindableType {
 public:
  explicit DRTLStorageNumberType(std::int64_t value) : value(value) {}
  int bindWithStatement(sqlite3_stmt* statement, int index) const override;
  std::int64_t value;
};

class DRTLStorageBindableArray {
 public:
  void addString(std::optional<std::string> value);
  void addNumber(std::int64_t value);
  // The first failing bind's code (logged with its 1-based position), else 0.
  int bindAllValuesWithStatement(sqlite3_stmt* statement, sqlite3* database) const;
  std::size_t count() const { return array_.size(); }

 private:
  std::vector<std::unique_ptr<DRTLStorageBindableType>> array_;
};

}  // namespace telemetry::core
