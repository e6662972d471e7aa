#include "telemetry/core/DRTLLogDBStorage.h"

namespace telemetry::core {

DRTLSchema DRTLLogDBStorage::logsSchema() {
  return {{kDRTLLogsTableName,
           {{"id", {"INTEGER", "PRIMARY KEY", "AUTOINCREMENT"}},
            {"groupId", {"TEXT", "NOT NULL"}},
            {"log", {"TEXT", "NOT NULL"}},
            {"targetToken", {"TEXT"}},
            {"targetKey", {"TEXT"}},
            {"priority", {"INTEGER"}}}}};
}

DRTLLogDBStorage::DRTLLogDBStorage() {
  const DRTLSchema schema = logsSchema();
  initWithSchema(schema, kDRTLLogsSchemaVersion, kDRTLLogsFileName);
  const auto columns = columnsIndexes(schema).at(kDRTLLogsTableName);  // a copy: the table of indexes is a temporary
  idColumnIndex_ = columns.at("id");
  groupIdColumnIndex_ = columns.at("groupId");
  logColumnIndex_ = columns.at("log");
  targetTokenColumnIndex_ = columns.at("targetToken");
}

int DRTLLogDBStorage::createPriorityIndex(sqlite3* database) {
  return executeNonSelectionQuery(
      std::string("CREATE INDEX \"ix_") + kDRTLLogsTableName + "_priority\" ON \"" + kDRTLLogsTableName +
          "\" (\"priority\")",
      database);
}

void DRTLLogDBStorage::customizeDatabase(sqlite3* database) { createPriorityIndex(database); }

void DRTLLogDBStorage::migrateDatabase(sqlite3* database, std::uint64_t) {
  // Logs of an older schema are dropped, not converted. The table is dropped
  // on this connection: the kept one is not handed out until configuration ends.
  if (tableExists(kDRTLLogsTableName, database)) {
    executeNonSelectionQuery(std::string("DROP TABLE \"") + kDRTLLogsTableName + "\";", database);
  }
  createTablesWithSchema(logsSchema(), database);
  customizeDatabase(database);
}

}  // namespace telemetry::core
