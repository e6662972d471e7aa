// Save, load and deletion of logs in the log store.
#include <algorithm>
#include <limits>

#include "foundation/GenerateUniqueID.h"
#include "platform/Base64.h"
#include "telemetry/core/DRTLAbstractLog.h"
#include "telemetry/core/DRTLLogDBStorage.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLSharedSchemaLog.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? separator : "") + parts[i];
  return text;
}

std::string valueText(const platform::Value& value) {
  if (const std::string* text = value.string()) return *text;
  return std::to_string(value.integerOr(0));
}

std::string quotedColumn(const std::string& name) { return "\"" + name + "\""; }

}  // namespace

std::string DRTLLogDBStorage::buildKeyFormatWithCount(std::size_t count) {
  std::string format = "(";
  for (std::size_t i = 0; i < count; ++i) format += i ? ",?" : "?";
  return format + ")";
}

bool DRTLLogDBStorage::saveLog(const std::shared_ptr<DRTLAbstractLog>& log, const std::string& groupId,
                               std::uint64_t flags) {
  if (!log) return false;
  const std::optional<std::string> archive = DRTLUtility::archiveKeyedData(log.get());
  if (!archive) return false;
  const std::string base64 =
      platform::base64Encode(reinterpret_cast<const std::uint8_t*>(archive->data()), archive->size());
  const auto priority = static_cast<std::int64_t>(flags & 0xFF);

  std::string query;
  DRTLStorageBindableArray values;
  values.addString(groupId);
  values.addString(base64);
  if (dynamic_cast<const DRTLSharedSchemaLog*>(log.get())) {
    std::optional<std::string> token;
    if (auto tokens = log->transmissionTargetTokens(); tokens && !tokens->empty()) token = *tokens->begin();
    values.addString(token ? targetTokenEncrypter_.encryptString(*token) : std::nullopt);
    values.addString(DRTLUtility::targetKeyFromTargetToken(token));
    query = "INSERT INTO \"logs\" (\"groupId\", \"log\", \"targetToken\", \"targetKey\", \"priority\") "
            "VALUES (?, ?, ?, ?, ?)";
  } else {
    query = "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") VALUES (?, ?, ?)";
  }
  values.addNumber(priority);

  const int result = executeQueryUsingBlock([&](sqlite3* database) {
    const auto capacity = static_cast<std::uint64_t>(pageSize() * getMaxPageCountInOpenedDatabase(database));
    if (base64.size() >= capacity) {
      DRTLLogError("Log is too large (" + std::to_string(base64.size()) +
                   " bytes) to store in database. Current maximum database size is " + std::to_string(capacity) +
                   " bytes.");
      return SQLITE_ERROR;
    }
    const int inserted = insertMakingRoom(database, query, values, priority);
    if (inserted == SQLITE_OK) {
      const auto id = sqlite3_last_insert_rowid(database);
      DRTLLogVerbose("Log is stored with id: '" + std::to_string(id) + "'");
    }
    return inserted;
  });
  return result == SQLITE_OK;
}

std::vector<bool> DRTLLogDBStorage::saveLogs(const std::vector<DRTLLogToSave>& logs, const std::string& groupId) {
  // A transaction per log costs more than the log itself: the journal is
  // written, synced and removed each time.
  if (logs.size() > 1 && executeNonSelectionQuery("BEGIN") == SQLITE_OK) {
    savingTogether_ = true;
    const bool allSaved = std::all_of(logs.begin(), logs.end(), [&](const DRTLLogToSave& entry) {
      return saveLog(entry.log, groupId, entry.flags);
    });
    savingTogether_ = false;
    if (allSaved && executeNonSelectionQuery("COMMIT") == SQLITE_OK) return std::vector<bool>(logs.size(), true);
    rollBackOpenTransaction();
  }
  std::vector<bool> saved;
  for (const DRTLLogToSave& entry : logs) saved.push_back(saveLog(entry.log, groupId, entry.flags));
  return saved;
}

void DRTLLogDBStorage::rollBackOpenTransaction() {
  executeQueryUsingBlock([this](sqlite3* database) {
    // SQLite may have rolled it back already (a full file does).
    return sqlite3_get_autocommit(database) ? SQLITE_OK : executeNonSelectionQuery("ROLLBACK", database);
  });
}

int DRTLLogDBStorage::insertMakingRoom(sqlite3* database, const std::string& query,
                                       const DRTLStorageBindableArray& values, std::int64_t priority) {
  int result = executeNonSelectionQuery(query, database, &values);
  if (result != SQLITE_FULL || savingTogether_) return result;

  // Evictions are undone when the new log still does not fit, so a refused
  // log never costs the logs it tried to displace.
  if (executeNonSelectionQuery("SAVEPOINT \"evict\"", database) != SQLITE_OK) return result;
  DRTLStorageBindableArray priorityValue;
  priorityValue.addNumber(priority);
  std::size_t deleted = 0;
  // Candidates come a few at a time: a full store may hold thousands of them.
  bool candidatesLeft = true;
  while (result == SQLITE_FULL && candidatesLeft) {
    int selectResult = SQLITE_OK;
    const std::vector<DRTLStorageRow> candidates = executeSelectionQuery(
        "SELECT \"id\" FROM \"logs\" WHERE \"priority\" <= ? ORDER BY \"priority\" ASC, \"id\" ASC LIMIT 32",
        database, &priorityValue, &selectResult);
    candidatesLeft = !candidates.empty() && selectResult == SQLITE_OK;
    for (const DRTLStorageRow& row : candidates) {
      const platform::Value id = row.empty() ? platform::Value() : row.front();
      const int deletion = deleteLogsFromDBWithColumnValues({id}, "id", database);
      if (deletion != SQLITE_OK) {
        result = deletion;
        candidatesLeft = false;
        break;
      }
      ++deleted;
      DRTLLogDebug("Deleted a log with id " + valueText(id) + " to store a new log.");
      result = executeNonSelectionQuery(query, database, &values);
      if (result != SQLITE_FULL) break;
    }
  }
  if (result == SQLITE_OK) {
    executeNonSelectionQuery("RELEASE \"evict\"", database);
    if (deleted > 0) {
      DRTLLogDebug("Log storage was over capacity, " + std::to_string(deleted) +
                   " oldest log(s) with equal or lower priority deleted.");
    }
    return result;
  }
  executeNonSelectionQuery("ROLLBACK TO \"evict\"", database);
  executeNonSelectionQuery("RELEASE \"evict\"", database);
  if (result == SQLITE_FULL) {
    DRTLLogError(std::string("Storage is full and no logs with equal or lower priority exist; discarding the log."));
  }
  return result;
}

bool DRTLLogDBStorage::loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                                           const std::optional<std::vector<std::string>>& excludedTargetKeys,
                                           const LoadHandler& handler) {
  if (limit == 0) {
    // Nothing fits a batch of none; answering "more" would make a flush loop forever.
    if (handler) handler({}, std::nullopt);
    return false;
  }
  std::vector<std::int64_t> pendingIds;
  if (auto group = batches_.find(groupId); group != batches_.end()) {
    for (const auto& [batchId, ids] : group->second) pendingIds.insert(pendingIds.end(), ids.begin(), ids.end());
  }
  std::string condition = "\"groupId\" = ?";
  DRTLStorageBindableArray values;
  values.addString(groupId);
  if (excludedTargetKeys && !excludedTargetKeys->empty()) {
    condition += " AND \"targetKey\" NOT IN " + buildKeyFormatWithCount(excludedTargetKeys->size());
    for (const std::string& key : *excludedTargetKeys) values.addString(key);
  }
  if (!pendingIds.empty()) {
    condition += " AND \"id\" NOT IN " + buildKeyFormatWithCount(pendingIds.size());
    for (std::int64_t id : pendingIds) values.addNumber(id);
  }
  const std::size_t rowLimit = limit == std::numeric_limits<std::size_t>::max() ? limit : limit + 1;
  condition += " ORDER BY \"priority\" DESC, \"id\" ASC LIMIT " + std::to_string(rowLimit);

  std::vector<DRTLLogRow> rows = logsWithCondition(condition, &values);
  const bool moreLogs = rows.size() > limit;
  if (moreLogs) rows.resize(limit);

  std::vector<std::int64_t> ids;
  std::vector<std::string> idTexts;
  DRTLLogArray logs;
  for (const DRTLLogRow& row : rows) {
    ids.push_back(row.values.at(idColumnIndex()).integerOr(0));
    idTexts.push_back(std::to_string(ids.back()));
    logs.push_back(row.log);
  }
  std::optional<std::string> batchId;
  if (!logs.empty()) {
    batchId = foundation::GenerateUniqueID::generateUniqueID();
    batches_[groupId][*batchId] = ids;
    DRTLLogVerbose("Load log(s) with id(s) '" + joined(idTexts, "','") + "' as batch Id:" + *batchId);
  }
  if (handler) handler(logs, batchId);
  return moreLogs;
}

void DRTLLogDBStorage::deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) {
  auto group = batches_.find(groupId);
  if (group == batches_.end()) return;
  auto batch = group->second.find(batchId);
  if (batch == group->second.end()) return;
  std::vector<platform::Value> ids(batch->second.begin(), batch->second.end());
  group->second.erase(batch);
  if (group->second.empty()) batches_.erase(group);
  if (!ids.empty()) deleteLogsFromDBWithColumnValues(ids, "id");
}

void DRTLLogDBStorage::releaseLogsWithBatchId(const std::string& batchId, const std::string& groupId) {
  auto group = batches_.find(groupId);
  if (group == batches_.end()) return;
  group->second.erase(batchId);
  if (group->second.empty()) batches_.erase(group);
}

DRTLLogArray DRTLLogDBStorage::deleteLogsWithGroupId(const std::string& groupId) {
  DRTLLogArray logs = logsFromDBWithGroupId(groupId);
  deleteLogsFromDBWithColumnValues({platform::Value(groupId)}, "groupId");
  batches_.erase(groupId);
  return logs;
}

std::uint64_t DRTLLogDBStorage::countLogs() { return countEntriesForTable(kDRTLLogsTableName, std::nullopt, nullptr); }

std::uint64_t DRTLLogDBStorage::countLogsWithGroupId(const std::string& groupId) {
  DRTLStorageBindableArray values;
  values.addString(groupId);
  return countEntriesForTable(kDRTLLogsTableName, std::string("\"groupId\" = ?"), &values);
}

DRTLLogArray DRTLLogDBStorage::logsFromDBWithGroupId(const std::string& groupId) {
  DRTLStorageBindableArray values;
  values.addString(groupId);
  DRTLLogArray logs;
  for (DRTLLogRow& row : logsWithCondition("\"groupId\" = ?", &values)) logs.push_back(std::move(row.log));
  return logs;
}

std::vector<DRTLLogRow> DRTLLogDBStorage::logsWithCondition(const std::string& condition,
                                                            const DRTLStorageBindableArray* values) {
  std::string query = "SELECT * FROM \"logs\"";
  if (!condition.empty()) query += " WHERE " + condition;
  std::vector<DRTLLogRow> result;
  for (DRTLStorageRow& row : executeSelectionQuery(query, values)) {
    const std::int64_t id = row.at(idColumnIndex()).integerOr(0);
    std::shared_ptr<DRTLAbstractLog> log;
    if (const std::string* text = row.at(logColumnIndex()).string()) {
      if (auto bytes = platform::base64Decode(*text)) {
        log = std::dynamic_pointer_cast<DRTLAbstractLog>(
            DRTLUtility::unarchiveKeyedData(std::string(bytes->begin(), bytes->end())));
      }
    }
    if (!log) {
      DRTLLogError("Deserialization failed for log with Id " + std::to_string(id));
      deleteLogFromDBWithId(id);
      continue;
    }
    if (const std::string* token = row.at(targetTokenColumnIndex()).string()) {
      if (token->empty()) {
        DRTLLogError("Unexpected empty target token for log with Id " + std::to_string(id) + ".");
      } else if (auto decrypted = targetTokenEncrypter_.decryptString(*token)) {
        log->addTransmissionTargetToken(*decrypted);
      } else {
        DRTLLogError("Failed to decrypt the target token for log with Id " + std::to_string(id) + ".");
      }
    }
    result.push_back({std::move(row), std::move(log)});
  }
  return result;
}

void DRTLLogDBStorage::deleteLogFromDBWithId(std::int64_t id) { deleteLogsFromDBWithColumnValues({platform::Value(id)}, "id"); }

void DRTLLogDBStorage::deleteLogsFromDBWithColumnValues(const std::vector<platform::Value>& values,
                                                        const std::string& columnName) {
  executeQueryUsingBlock(
      [&](sqlite3* database) { return deleteLogsFromDBWithColumnValues(values, columnName, database); });
}

int DRTLLogDBStorage::deleteLogsFromDBWithColumnValues(const std::vector<platform::Value>& values,
                                                       const std::string& columnName, sqlite3* database) {
  std::vector<std::string> texts;
  DRTLStorageBindableArray bound;
  for (const platform::Value& value : values) {
    texts.push_back(valueText(value));
    if (const std::string* text = value.string()) {
      bound.addString(*text);
    } else {
      bound.addNumber(value.integerOr(0));
    }
  }
  const std::string trace = "Deletion of log(s) by " + columnName + " with value(s) '" + joined(texts, "','") + "'";
  const std::string query = "DELETE FROM \"logs\" WHERE " + quotedColumn(columnName) + " IN " +
                            buildKeyFormatWithCount(values.size());
  const int result = executeNonSelectionQuery(query, database, &bound);
  if (result == SQLITE_OK) {
    DRTLLogVerbose(trace + " succeeded.");
  } else {
    DRTLLogError(trace + " failed.");
  }
  return result;
}

}  // namespace telemetry::core
