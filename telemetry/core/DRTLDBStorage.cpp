#include "telemetry/core/DRTLDBStorage.h"

#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

bool isCorruption(int result) { return result == SQLITE_NOTADB || result == SQLITE_CORRUPT; }

}  // namespace

DRTLDBStorage::~DRTLDBStorage() { closeConnection(); }

void DRTLDBStorage::initWithSchema(std::optional<DRTLSchema> schema, std::uint64_t version,
                                   const std::string& filename) {
  schema_ = std::move(schema);
  int result = configureDatabase(version, filename);
  if (isCorruption(result)) {
    dropDatabase();
    result = configureDatabase(version, filename);
  }
  if (result != SQLITE_OK) DRTLLogError(std::string("Failed to initialize database."));
}

int DRTLDBStorage::configureDatabase(std::uint64_t version, const std::string& filename) {
  closeConnection();
  const bool existed = DRTLUtility::fileExistsForPathComponent(filename);
  dbFileURL_ = DRTLUtility::createFileAtPathComponent(filename, std::nullopt, false, false)
                   .value_or(DRTLUtility::dirAradedDirectoryURL() / filename);
  maxSizeInBytes_ = kDRTLDefaultMaxSizeInBytes;
  int result = SQLITE_OK;
  sqlite3* database = openConnection(&result);
  if (!database) return result;
  auto fail = [&](int code) {
    sqlite3_close_v2(database);
    return code;
  };
  pageSize_ = getPageSizeInOpenedDatabase(database, &result);
  if (result != SQLITE_OK) return fail(result);
  const std::uint64_t oldVersion = versionInOpenedDatabase(database, &result);
  if (result != SQLITE_OK) return fail(result);
  if (schema_) {
    result = createTablesWithSchema(*schema_, database);
    if (result != SQLITE_OK) {
      DRTLLogError("Failed to create tables with schema with error \"" + std::to_string(result) + "\".");
      return fail(result);
    }
  }
  if (!existed) {
    DRTLLogInfo("Created \"" + filename + "\" database with " + std::to_string(version) + " version.");
    customizeDatabase(database);
  } else if (oldVersion < version) {
    DRTLLogInfo("Migrating \"" + filename + "\" database from version " + std::to_string(oldVersion) + " to " +
                std::to_string(version) + ".");
    migrateDatabase(database, oldVersion);
  }
  enableAutoVacuumInOpenedDatabase(database);
  // A file written by a newer version keeps its number, so that version
  // still sees its own schema when it runs again.
  if (oldVersion <= version) setVersion(version, database);
  database_ = database;
  appliedMaxSizeInBytes_.reset();
  return SQLITE_OK;
}

sqlite3* DRTLDBStorage::openConnection(int* result) {
  sqlite3* database = openDatabaseAtFileURL(dbFileURL_, result);
  if (database) sqlite3_busy_handler(database, &DRTLDBStorage::waitWhileLocked, this);
  return database;
}

// Without it a reader of the file (another process, the sqlite3 tool) makes a
// delivered batch's deletion fail at once, and its logs are sent again.
int DRTLDBStorage::waitWhileLocked(void* storage, int attempt) {
  auto* self = static_cast<DRTLDBStorage*>(storage);
  const platform::Clock::TimePoint now = platform::Clock::current().now();
  if (attempt == 0) {
    self->lockedSince_ = now;
    DRTLLogDebug("Database file " + self->dbFileURL_.filename().string() +
                 " is locked by another connection; waiting up to " + std::to_string(kDRTLDBBusyWaitLimit.count()) +
                 " s.");
  }
  if (now - self->lockedSince_ >= kDRTLDBBusyWaitLimit) return 0;
  sqlite3_sleep(1);  // the other connection's turn
  return 1;
}

sqlite3* DRTLDBStorage::connection(int* result) {
  *result = SQLITE_OK;
  if (!database_) database_ = openConnection(result);
  if (!database_) return nullptr;
  // Read again when configuration never got it (a failed first open): the
  // bound divides by it.
  if (pageSize_ <= 0) pageSize_ = getPageSizeInOpenedDatabase(database_);
  return database_;
}

int DRTLDBStorage::applySizeBound(sqlite3* database) {
  if (appliedMaxSizeInBytes_ == maxSizeInBytes_ || pageSize_ <= 0) return SQLITE_OK;
  const int result = setMaxPageCount(maxSizeInBytes_ / pageSize_, database);
  if (result == SQLITE_OK) appliedMaxSizeInBytes_ = maxSizeInBytes_;
  return result;
}

void DRTLDBStorage::closeConnection() {
  if (database_) sqlite3_close_v2(database_);
  database_ = nullptr;
  appliedMaxSizeInBytes_.reset();
}

int DRTLDBStorage::executeQueryUsingBlock(const QueryBlock& block) {
  int result = SQLITE_OK;
  sqlite3* database = connection(&result);
  if (!database) return result;
  const int bound = applySizeBound(database);
  if (isCorruption(bound)) return bound;
  if (bound != SQLITE_OK) DRTLLogError(std::string("Failed to open database with specified maximum size constraint."));
  return block(database);
}

int DRTLDBStorage::executeNonSelectionQuery(const std::string& query, const DRTLStorageBindableArray* values) {
  return executeQueryUsingBlock(
      [&](sqlite3* database) { return executeNonSelectionQuery(query, database, values); });
}

std::vector<DRTLStorageRow> DRTLDBStorage::executeSelectionQuery(const std::string& query,
                                                                 const DRTLStorageBindableArray* values) {
  std::vector<DRTLStorageRow> rows;
  executeQueryUsingBlock([&](sqlite3* database) {
    int result = SQLITE_OK;
    rows = executeSelectionQuery(query, database, values, &result);
    return result;
  });
  return rows;
}

std::uint64_t DRTLDBStorage::countEntriesForTable(const std::string& table, const std::optional<std::string>& condition,
                                                  const DRTLStorageBindableArray* values) {
  std::string query = "SELECT COUNT(*) FROM \"" + table + "\" ";
  if (condition && !condition->empty()) query += "WHERE " + *condition;
  std::vector<DRTLStorageRow> rows = executeSelectionQuery(query, values);
  if (rows.empty() || rows[0].empty()) return 0;
  return static_cast<std::uint64_t>(rows[0][0].integerOr(0));
}

bool DRTLDBStorage::createTable(const std::string& table, const DRTLColumnSchema& columns) {
  const int result = executeQueryUsingBlock([&](sqlite3* database) {
    if (tableExists(table, database)) return SQLITE_OK;
    return executeNonSelectionQuery("CREATE TABLE \"" + table + "\" (" + columnsQueryFromColumnsSchema(columns) + ");",
                                    database);
  });
  if (result == SQLITE_OK) {
    DRTLLogVerbose("Table " + table + " has been created");
  } else {
    DRTLLogError("Failed to create table " + table);
  }
  return result == SQLITE_OK;
}

bool DRTLDBStorage::dropTable(const std::string& table) {
  const int result = executeQueryUsingBlock([&](sqlite3* database) {
    if (!tableExists(table, database)) return SQLITE_OK;
    return executeNonSelectionQuery("DROP TABLE \"" + table + "\";", database);
  });
  if (result == SQLITE_OK) {
    DRTLLogVerbose("Table " + table + " has been deleted");
  } else {
    DRTLLogError("Failed to delete table " + table);
  }
  return result == SQLITE_OK;
}

void DRTLDBStorage::dropDatabase() {
  closeConnection();
  if (DRTLUtility::deleteFileAtURL(dbFileURL_)) {
    DRTLLogVerbose("Database file://" + dbFileURL_.string() + " has been deleted.");
  } else {
    DRTLLogError(std::string("Failed to delete database."));
  }
}

void DRTLDBStorage::setMaxStorageSize(std::int64_t sizeInBytes, const std::function<void(bool)>& completionHandler) {
  int result = SQLITE_OK;
  sqlite3* database = connection(&result);
  if (!database || pageSize_ <= 0) return;
  const std::int64_t pageCount = getPageCountInOpenedDatabase(database);
  DRTLLogDebug("Found " + std::to_string(pageCount) + " pages in the database.");
  const std::int64_t requested = sizeInBytes / pageSize_ + (sizeInBytes % pageSize_ ? 1 : 0);
  const std::string size = std::to_string(sizeInBytes);
  bool accepted = false;
  if (pageCount > requested) {
    DRTLLogWarning("Cannot change database size to " + size +
                   " bytes as it would cause a loss of data. Maximum database size will not be changed.");
  } else if (int code = setMaxPageCount(requested, database); code != SQLITE_OK) {
    DRTLLogError("Could not change maximum database size to " + size + " bytes. SQLite error code: " +
                 std::to_string(code));
  } else {
    const std::int64_t maxPageCount = getMaxPageCountInOpenedDatabase(database);
    const std::int64_t effective = pageSize_ * maxPageCount;
    if (maxPageCount == requested) {
      if (effective == sizeInBytes) {
        DRTLLogInfo("Changed maximum database size to " + size + " bytes.");
      } else {
        DRTLLogInfo("Changed maximum database size to " + std::to_string(effective) + " bytes (next multiple of 4KiB).");
      }
      maxSizeInBytes_ = effective;
      appliedMaxSizeInBytes_ = effective;
      accepted = true;
    } else {
      DRTLLogError("Could not change maximum database size to " + size + " bytes, current maximum size is " +
                   std::to_string(effective) + " bytes.");
      appliedMaxSizeInBytes_.reset();  // the bound of maxSizeInBytes is put back on the next use
    }
  }
  if (completionHandler) completionHandler(accepted);
}

}  // namespace telemetry::core
