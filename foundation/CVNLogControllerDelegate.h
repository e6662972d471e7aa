#pragma once
// The two protocols around the technical log.
//
// CVNLogControllerDelegate: the display side, supplied by a host (its
// on-screen log). Every operation is optional; the log asks the capability
// queries before calling. The log does not own the delegate: the host keeps
// it alive until it has called setLogDelegate(nullptr), which returns only
// after every call into the old delegate has finished.
//
// CVNLogDelegate: objects that relay the log messages of loaded components
// (the playout engine's device controller) adopt it; same signature as the
// log's own entry point.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Value.h"

namespace foundation {

class CVNLogControllerDelegate {
 public:
  virtual ~CVNLogControllerDelegate() = default;

  // Called on the logging thread for messages with show set; the info
  // dictionary form wins when both are implemented. Messages the delegate logs
  // from inside these calls are not shown again (they go to the console and
  // the file), so a delegate may log without deadlocking the log.
  virtual bool implementsDisplayLogWithInfoDict() const { return false; }
  virtual void displayLogWithInfoDict(const platform::Dictionary& infoDict) { (void)infoDict; }
  virtual bool implementsDisplayLogMessage() const { return false; }
  virtual void displayLogMessage(const std::string& message, std::int32_t logLevel) {
    (void)message;
    (void)logLevel;
  }

  // Called on the log's file queue before the first line of every new file
  // (program start, new day, new folder). nullopt: not implemented or none.
  virtual std::optional<std::string> initialLogMessage() { return std::nullopt; }
};

class CVNLogDelegate {
 public:
  virtual ~CVNLogDelegate() = default;
  virtual void logMessage(const std::string& message, std::int32_t level, bool show) = 0;
};

}  // namespace foundation
