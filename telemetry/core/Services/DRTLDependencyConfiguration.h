#pragma once
// DRTLDependencyConfiguration: an HTTP client a host or test injects for the
// channel group (none by default). DRTLWrapperLogger: the way for wrapper
// SDKs to write through the SDK logger. Both safe from any thread.

#include <memory>
#include <string>

#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/Ingestion/DRTLHttpClient.h"

namespace telemetry::core {

class DRTLDependencyConfiguration {
 public:
  static std::shared_ptr<DRTLHttpClientProtocol> httpClient();
  static void setHttpClient(std::shared_ptr<DRTLHttpClientProtocol> httpClient);
};

class DRTLWrapperLogger {
 public:
  static void DRTLWrapperLog(const DRTLLogMessageProvider& message, const std::string& tag, int level);
};

}  // namespace telemetry::core
