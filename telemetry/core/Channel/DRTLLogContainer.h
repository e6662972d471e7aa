#pragma once
// DRTLLogContainer: one batch of logs on its way to the ingestion, with the
// batch id the log store gave it. A value built on the channel group queue.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/core/DRTLAbstractLog.h"

namespace telemetry::core {

class DRTLLogContainer {
 public:
  DRTLLogContainer(std::optional<std::string> batchId, std::vector<std::shared_ptr<DRTLAbstractLog>> logs)
      : batchId(std::move(batchId)), logs(std::move(logs)) {}

  std::optional<std::string> batchId;
  std::vector<std::shared_ptr<DRTLAbstractLog>> logs;

  // {"logs":[…]}, "/" unescaped; none (with the ERROR line) when a log holds
  // text that is not UTF-8.
  std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const;
  std::optional<std::string> serializeLog() const { return serializeLogWithPrettyPrinting(false); }
  // At least one log and every log valid.
  bool isValid() const;
};

}  // namespace telemetry::core
