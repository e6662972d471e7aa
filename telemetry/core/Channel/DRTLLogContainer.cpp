#include "telemetry/core/Channel/DRTLLogContainer.h"

#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {

std::optional<std::string> DRTLLogContainer::serializeLogWithPrettyPrinting(bool prettyPrint) const {
  DRTLJSON array = DRTLJSON::array();
  for (const auto& log : logs) {
    if (log) array.push_back(log->serializeToDictionary());
  }
  DRTLJSON container = DRTLJSON::object();
  container["logs"] = std::move(array);
  std::optional<std::string> text = serializeJSON(container, prettyPrint);
  if (!text) DRTLLogError(std::string("Couldn't serialize log container to json: a text is not valid UTF-8."));
  return text;
}

bool DRTLLogContainer::isValid() const {
  if (logs.empty()) {
    DRTLLogVerbose(std::string("DRTLLogContainer: there are no logs in container."));
    return false;
  }
  for (const auto& log : logs) {
    if (!log || !log->isValid()) return false;
  }
  return true;
}

}  // namespace telemetry::core
