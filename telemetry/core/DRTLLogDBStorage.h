#pragma once
// DRTLLogDBStorage: the telemetry log store, table "logs" of "Logs.sqlite"
// (schema version 5). A file of an older version is dropped and rebuilt.
// Lives on: the channel group queue.

#include <cstddef>

#include "telemetry/core/DRTLDBStorage.h"

namespace telemetry::core {

inline constexpr const char* kDRTLLogsTableName = "logs";
inline constexpr const char* kDRTLLogsFileName = "Logs.sqlite";
inline constexpr std::uint64_t kDRTLLogsSchemaVersion = 5;

class DRTLLogDBStorage : public DRTLDBStorage {
 public:
  DRTLLogDBStorage();

  static DRTLSchema logsSchema();

  std::size_t idColumnIndex() const { return idColumnIndex_; }
  std::size_t groupIdColumnIndex() const { return groupIdColumnIndex_; }
  std::size_t logColumnIndex() const { return logColumnIndex_; }
  std::size_t targetTokenColumnIndex() const { return targetTokenColumnIndex_; }

 protected:
  void customizeDatabase(sqlite3* database) override;
  void migrateDatabase(sqlite3* database, std::uint64_t fromVersion) override;

 private:
  static int createPriorityIndex(sqlite3* database);

  std::size_t idColumnIndex_ = 0;
  std::size_t groupIdColumnIndex_ = 0;
  std::size_t logColumnIndex_ = 0;
  std::size_t targetTokenColumnIndex_ = 0;
};

}  // namespace telemetry::core
