// The class operations of DRTLDBStorage: statements on a connection the
// caller opened.
#include "telemetry/core/DRTLDBStorage.h"
#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {

sqlite3* DRTLDBStorage::openDatabaseAtFileURL(const std::filesystem::path& url, int* result) {
  sqlite3* database = nullptr;
  // URI file names per connection rather than through the global configuration.
  const int code = sqlite3_open_v2(url.c_str(), &database,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
  if (result) *result = code;
  if (code != SQLITE_OK) {
    DRTLLogError("Failed to open database with result: " + std::to_string(code) + ".");
    sqlite3_close_v2(database);
    return nullptr;
  }
  return database;
}

std::string DRTLDBStorage::columnsQueryFromColumnsSchema(const DRTLColumnSchema& columns) {
  std::string clause;
  for (const auto& [name, words] : columns) {
    if (!clause.empty()) clause += ", ";
    clause += "\"" + name + "\"";
    std::string joined;
    for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
    clause += " " + joined;
  }
  return clause;
}

int DRTLDBStorage::createTablesWithSchema(const DRTLSchema& schema, sqlite3* database) {
  for (const auto& [table, columns] : schema) {
    int result = SQLITE_OK;
    const bool exists = tableExists(table, database, &result);
    if (result != SQLITE_OK) return result;
    if (exists) continue;
    result = executeNonSelectionQuery("CREATE TABLE \"" + table + "\" (" + columnsQueryFromColumnsSchema(columns) + ");",
                                      database);
    if (result != SQLITE_OK) return result;
  }
  return SQLITE_OK;
}

std::map<std::string, std::map<std::string, std::size_t>> DRTLDBStorage::columnsIndexes(const DRTLSchema& schema) {
  std::map<std::string, std::map<std::string, std::size_t>> indexes;
  for (const auto& [table, columns] : schema) {
    for (std::size_t i = 0; i < columns.size(); ++i) indexes[table][columns[i].first] = i;
  }
  return indexes;
}

bool DRTLDBStorage::tableExists(const std::string& table, sqlite3* database, int* result) {
  DRTLStorageBindableArray values;
  values.addString(table);
  int code = SQLITE_OK;
  std::vector<DRTLStorageRow> rows = executeSelectionQuery(
      "SELECT COUNT(*) FROM \"sqlite_master\" WHERE \"type\"='table' AND \"name\"=?;", database, &values, &code);
  if (result) *result = code;
  return !rows.empty() && !rows[0].empty() && rows[0][0].integerOr(0) != 0;
}

std::uint64_t DRTLDBStorage::versionInOpenedDatabase(sqlite3* database, int* result) {
  return static_cast<std::uint64_t>(querySingleValue("PRAGMA user_version", database, result));
}

void DRTLDBStorage::setVersion(std::uint64_t version, sqlite3* database) {
  executeNonSelectionQuery("PRAGMA user_version = " + std::to_string(version), database);
}

void DRTLDBStorage::enableAutoVacuumInOpenedDatabase(sqlite3* database) {
  if (querySingleValue("PRAGMA auto_vacuum", database) == 1) return;
  DRTLLogDebug(std::string("Vacuuming database and enabling auto_vacuum"));
  executeNonSelectionQuery("PRAGMA auto_vacuum = FULL;", database);
  executeNonSelectionQuery("VACUUM;", database);
}

std::int64_t DRTLDBStorage::getPageSizeInOpenedDatabase(sqlite3* database, int* result) {
  return querySingleValue("PRAGMA page_size;", database, result);
}

std::int64_t DRTLDBStorage::getPageCountInOpenedDatabase(sqlite3* database) {
  return querySingleValue("PRAGMA page_count;", database);
}

std::int64_t DRTLDBStorage::getMaxPageCountInOpenedDatabase(sqlite3* database) {
  return querySingleValue("PRAGMA max_page_count;", database);
}

std::int64_t DRTLDBStorage::querySingleValue(const std::string& query, sqlite3* database, int* result) {
  int code = SQLITE_OK;
  std::vector<DRTLStorageRow> rows = executeSelectionQuery(query, database, nullptr, &code);
  if (result) *result = code;
  if (rows.empty() || rows[0].empty()) return 0;
  return rows[0][0].integerOr(0);
}

int DRTLDBStorage::setMaxPageCount(std::int64_t pageCount, sqlite3* database) {
  int result = SQLITE_OK;
  executeSelectionQuery("PRAGMA max_page_count = " + std::to_string(pageCount), database, nullptr, &result);
  return result;
}

int DRTLDBStorage::executeQuery(const std::string& query, sqlite3* database, const DRTLStorageBindableArray* values,
                                const std::function<int(sqlite3_stmt*)>& block) {
  sqlite3_stmt* statement = nullptr;
  int result = sqlite3_prepare_v2(database, query.c_str(), static_cast<int>(query.size()) + 1, &statement, nullptr);
  if (result != SQLITE_OK) {
    DRTLLogError("Failed to prepare SQLite statement, result=" + std::to_string(result) + "\n\t" +
                 sqlite3_errmsg(database));
    sqlite3_finalize(statement);
    return result;
  }
  result = values ? values->bindAllValuesWithStatement(statement, database) : SQLITE_OK;
  if (result == SQLITE_OK) result = block(statement);
  if (int finalized = sqlite3_finalize(statement); finalized != SQLITE_OK && result == SQLITE_OK) {
    // A failed step reports its code again at finalize; only a new failure is worth a line.
    DRTLLogError("Failed to finalize SQLite statement, result=" + std::to_string(finalized) + "\n\t" +
                 sqlite3_errmsg(database));
  }
  return result;
}

int DRTLDBStorage::executeNonSelectionQuery(const std::string& query, sqlite3* database,
                                            const DRTLStorageBindableArray* values) {
  return executeQuery(query, database, values, [database](sqlite3_stmt* statement) {
    const int result = sqlite3_step(statement);
    if (result == SQLITE_DONE || result == SQLITE_ROW) return SQLITE_OK;
    const std::string message = "result=" + std::to_string(result) + "\n\t" + sqlite3_errmsg(database);
    if (result == SQLITE_NOTADB || result == SQLITE_CORRUPT) {
      DRTLLogError("A database file is corrupted, " + message);
    } else if (result == SQLITE_FULL) {
      DRTLLogDebug("Query failed with error: " + std::to_string(result) + "\n\t" + sqlite3_errmsg(database));
    } else {
      DRTLLogError("Could not execute the statement, " + message);
    }
    return result;
  });
}

std::vector<DRTLStorageRow> DRTLDBStorage::executeSelectionQuery(const std::string& query, sqlite3* database,
                                                                 const DRTLStorageBindableArray* values, int* result) {
  std::vector<DRTLStorageRow> rows;
  const int code = executeQuery(query, database, values, [&](sqlite3_stmt* statement) {
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
      DRTLStorageRow row;
      const int columns = sqlite3_column_count(statement);
      for (int i = 0; i < columns; ++i) row.push_back(columnValueFromStatement(statement, i));
      if (!row.empty()) rows.push_back(std::move(row));
    }
    if (step == SQLITE_DONE) return SQLITE_OK;
    DRTLLogError("Query failed with error: " + std::to_string(step) + "\n\t" + sqlite3_errmsg(database));
    return step;
  });
  if (result) *result = code;
  return rows;
}

platform::Value DRTLDBStorage::columnValueFromStatement(sqlite3_stmt* statement, int index) {
  switch (const int type = sqlite3_column_type(statement, index)) {
    case SQLITE_NULL:
      return {};
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
      return platform::Value(std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, index))));
    }
    case SQLITE_INTEGER:
      // Whole 64 bits: row ids and sizes pass 2^31.
      return platform::Value(static_cast<std::int64_t>(sqlite3_column_int64(statement, index)));
    default:
      DRTLLogError("Could not retrieve column value at index " + std::to_string(index) +
                   " from statement: unknown type " + std::to_string(type) + ".");
      return {};
  }
}

}  // namespace telemetry::core
