#pragma once
// DRTLDBStorage: the SQLite layer under the telemetry log store. One database
// file in the SDK directory, the tables of a schema, the schema version in
// `user_version`, full auto-vacuum, and the file size bounded through the
// maximum page count.
//
// One connection is kept for the store's life (opened at configuration,
// reopened after a failure) and the page bound is applied to it again
// whenever `maxSizeInBytes` changes. When another connection to the file
// holds its lock, a statement waits for it up to `kDRTLDBBusyWaitLimit` on
// `platform::Clock` before it fails with SQLITE_BUSY. Lives on: the channel group queue; not
// safe for concurrent use. The class operations work on a connection the
// caller opened and return SQLite result codes.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/Value.h"
#include "telemetry/core/DRTLStorageBindableArray.h"

namespace telemetry::core {

// Table name -> columns in order; each column is its name and its words
// ("INTEGER", "PRIMARY KEY", ...).
using DRTLColumnSchema = std::vector<std::pair<std::string, std::vector<std::string>>>;
using DRTLSchema = std::vector<std::pair<std::string, DRTLColumnSchema>>;
// One row: a value per column, none for NULL, integers 64-bit, text strings.
using DRTLStorageRow = std::vector<platform::Value>;

inline constexpr std::int64_t kDRTLDefaultMaxSizeInBytes = 10485760;
inline constexpr std::chrono::seconds kDRTLDBBusyWaitLimit{2};

class DRTLDBStorage {
 public:
  using QueryBlock = std::function<int(sqlite3* database)>;

  virtual ~DRTLDBStorage();
  DRTLDBStorage(const DRTLDBStorage&) = delete;
  DRTLDBStorage& operator=(const DRTLDBStorage&) = delete;

  const std::filesystem::path& dbFileURL() const { return dbFileURL_; }
  std::int64_t maxSizeInBytes() const { return maxSizeInBytes_; }
  std::int64_t pageSize() const { return pageSize_; }
  const std::optional<DRTLSchema>& schema() const { return schema_; }

  // Runs the block on the kept connection with the size bound applied.
  int executeQueryUsingBlock(const QueryBlock& block);
  int executeNonSelectionQuery(const std::string& query, const DRTLStorageBindableArray* values = nullptr);
  std::vector<DRTLStorageRow> executeSelectionQuery(const std::string& query,
                                                    const DRTLStorageBindableArray* values = nullptr);
  std::uint64_t countEntriesForTable(const std::string& table, const std::optional<std::string>& condition,
                                     const DRTLStorageBindableArray* values);
  bool createTable(const std::string& table, const DRTLColumnSchema& columns);
  bool dropTable(const std::string& table);
  void dropDatabase();
  // Bounds the file to `sizeInBytes` rounded up to whole pages; refused when
  // the file already holds more pages. The handler gets the outcome.
  void setMaxStorageSize(std::int64_t sizeInBytes, const std::function<void(bool)>& completionHandler);

  // Class operations on an open connection.
  static sqlite3* openDatabaseAtFileURL(const std::filesystem::path& url, int* result);
  static std::string columnsQueryFromColumnsSchema(const DRTLColumnSchema& columns);
  static int createTablesWithSchema(const DRTLSchema& schema, sqlite3* database);
  static std::map<std::string, std::map<std::string, std::size_t>> columnsIndexes(const DRTLSchema& schema);
  static bool tableExists(const std::string& table, sqlite3* database, int* result = nullptr);
  static std::uint64_t versionInOpenedDatabase(sqlite3* database, int* result);
  static void setVersion(std::uint64_t version, sqlite3* database);
  static void enableAutoVacuumInOpenedDatabase(sqlite3* database);
  static std::int64_t getPageSizeInOpenedDatabase(sqlite3* database, int* result = nullptr);
  static std::int64_t getPageCountInOpenedDatabase(sqlite3* database);
  static std::int64_t getMaxPageCountInOpenedDatabase(sqlite3* database);
  static std::int64_t querySingleValue(const std::string& query, sqlite3* database, int* result = nullptr);
  static int setMaxPageCount(std::int64_t pageCount, sqlite3* database);
  static int executeNonSelectionQuery(const std::string& query, sqlite3* database,
                                      const DRTLStorageBindableArray* values = nullptr);
  static std::vector<DRTLStorageRow> executeSelectionQuery(const std::string& query, sqlite3* database,
                                                           const DRTLStorageBindableArray* values, int* result);
  static int executeQuery(const std::string& query, sqlite3* database, const DRTLStorageBindableArray* values,
                          const std::function<int(sqlite3_stmt*)>& block);
  static platform::Value columnValueFromStatement(sqlite3_stmt* statement, int index);

 protected:
  DRTLDBStorage() = default;
  // Configures the file (deleting and rebuilding it once when it is corrupt).
  // Called by the subclass's constructor, so the hooks below reach it.
  void initWithSchema(std::optional<DRTLSchema> schema, std::uint64_t version, const std::string& filename);

  virtual void customizeDatabase(sqlite3*) {}
  virtual void migrateDatabase(sqlite3*, std::uint64_t /*fromVersion*/) {}

 private:
  int configureDatabase(std::uint64_t version, const std::string& filename);
  // A connection to the file that waits out another connection's lock.
  sqlite3* openConnection(int* result);
  static int waitWhileLocked(void* storage, int attempt);
  // The kept connection, opened when needed; none when opening failed.
  sqlite3* connection(int* result);
  void closeConnection();
  // Puts the bound of maxSizeInBytes on the kept connection when it changed.
  int applySizeBound(sqlite3* database);

  std::filesystem::path dbFileURL_;
  std::int64_t maxSizeInBytes_ = kDRTLDefaultMaxSizeInBytes;
  std::int64_t pageSize_ = 0;
  std::optional<DRTLSchema> schema_;
  sqlite3* database_ = nullptr;
  std::optional<std::int64_t> appliedMaxSizeInBytes_;  // the bound the kept connection carries
  platform::Clock::TimePoint lockedSince_{};             // when the current wait for a lock began
};

}  // namespace telemetry::core
