#pragma once
// DRTLStorage: what a channel unit needs of the log store. Every call runs on
// the channel group queue; the store takes no lock of its own.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace telemetry::core {

class DRTLAbstractLog;

using DRTLLogArray = std::vector<std::shared_ptr<DRTLAbstractLog>>;

struct DRTLLogToSave {
  std::shared_ptr<DRTLAbstractLog> log;
  std::uint64_t flags = 0;
};

class DRTLStorage {
 public:
  // The logs of the batch (possibly none) and its id (none when empty).
  using LoadHandler = std::function<void(const DRTLLogArray& logs, const std::optional<std::string>& batchId)>;

  virtual ~DRTLStorage() = default;

  // Stored with priority = flags & 255; false when not stored.
  virtual bool saveLog(const std::shared_ptr<DRTLAbstractLog>& log, const std::string& groupId,
                       std::uint64_t flags) = 0;
  // Saves the logs in order as saveLog does, one answer per log.
  virtual std::vector<bool> saveLogs(const std::vector<DRTLLogToSave>& logs, const std::string& groupId) = 0;
  // Calls the handler at once with up to `limit` logs of the group that are in
  // no pending batch and whose target key is not excluded; true when more remain.
  virtual bool loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                                   const std::optional<std::vector<std::string>>& excludedTargetKeys,
                                   const LoadHandler& handler) = 0;
  virtual void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) = 0;
  // Forgets a batch and keeps its rows, so they load again (a failed send).
  virtual void releaseLogsWithBatchId(const std::string& batchId, const std::string& groupId) = 0;
  virtual DRTLLogArray deleteLogsWithGroupId(const std::string& groupId) = 0;
  virtual std::uint64_t countLogs() = 0;
  virtual std::uint64_t countLogsWithGroupId(const std::string& groupId) = 0;
  virtual void setMaxStorageSize(std::int64_t sizeInBytes, const std::function<void(bool)>& completionHandler) = 0;
};

}  // namespace telemetry::core
