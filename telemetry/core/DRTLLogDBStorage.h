#pragma once
// DRTLLogDBStorage: the telemetry log store, table "logs" of "Logs.sqlite"
// (schema version 5). A file of an older version is dropped and rebuilt.
// A full file makes room by evicting logs of equal or lower priority, lowest
// and oldest first, inside a savepoint that is rolled back when the new log
// still does not fit. Batches handed out are remembered in memory per group.
// Lives on: the channel group queue.

#include <cstddef>
#include <map>

#include "telemetry/core/DRTLDBStorage.h"
#include "telemetry/core/DRTLEncrypter.h"
#include "telemetry/core/DRTLStorage.h"

namespace telemetry::core {

inline constexpr const char* kDRTLLogsTableName = "logs";
inline constexpr const char* kDRTLLogsFileName = "Logs.sqlite";
inline constexpr std::uint64_t kDRTLLogsSchemaVersion = 5;

// A stored row with its log decoded.
struct DRTLLogRow {
  DRTLStorageRow values;
  std::shared_ptr<DRTLAbstractLog> log;
};

class DRTLLogDBStorage : public DRTLDBStorage, public DRTLStorage {
 public:
  DRTLLogDBStorage();

  bool saveLog(const std::shared_ptr<DRTLAbstractLog>& log, const std::string& groupId, std::uint64_t flags) override;
  // One transaction for all; when one log does not go in (a full file, a log too
  // large), the transaction is undone and each log is saved on its own.
  std::vector<bool> saveLogs(const std::vector<DRTLLogToSave>& logs, const std::string& groupId) override;
  bool loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                           const std::optional<std::vector<std::string>>& excludedTargetKeys,
                           const LoadHandler& handler) override;
  void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) override;
  void releaseLogsWithBatchId(const std::string& batchId, const std::string& groupId) override;
  DRTLLogArray deleteLogsWithGroupId(const std::string& groupId) override;
  std::uint64_t countLogs() override;
  std::uint64_t countLogsWithGroupId(const std::string& groupId) override;
  void setMaxStorageSize(std::int64_t sizeInBytes, const std::function<void(bool)>& completionHandler) override {
    DRTLDBStorage::setMaxStorageSize(sizeInBytes, completionHandler);
  }

  DRTLLogArray logsFromDBWithGroupId(const std::string& groupId);
  // Rows of "logs" matching the condition; a row whose log does not decode is
  // deleted and left out.
  std::vector<DRTLLogRow> logsWithCondition(const std::string& condition, const DRTLStorageBindableArray* values);
  void deleteLogFromDBWithId(std::int64_t id);
  void deleteLogsFromDBWithColumnValues(const std::vector<platform::Value>& values, const std::string& columnName);
  // Values are bound, never written into the statement.
  static int deleteLogsFromDBWithColumnValues(const std::vector<platform::Value>& values,
                                              const std::string& columnName, sqlite3* database);
  // "(?,?,?)" for 3.
  static std::string buildKeyFormatWithCount(std::size_t count);

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
  int insertMakingRoom(sqlite3* database, const std::string& query, const DRTLStorageBindableArray& values,
                       std::int64_t priority);
  void rollBackOpenTransaction();

  // group id -> batch id -> row ids. Exact group ids, so one group's batches
  // never touch those of a group whose id merely begins with it.
  std::map<std::string, std::map<std::string, std::vector<std::int64_t>>> batches_;
  DRTLEncrypter targetTokenEncrypter_;
  // Inside saveLogs' transaction no room is made: SQLite undoes the whole
  // transaction on a full file, so the logs are saved again one by one.
  bool savingTogether_ = false;

  std::size_t idColumnIndex_ = 0;
  std::size_t groupIdColumnIndex_ = 0;
  std::size_t logColumnIndex_ = 0;
  std::size_t targetTokenColumnIndex_ = 0;
};

}  // namespace telemetry::core
