#include "telemetry/core/Services/DRTLDependencyConfiguration.h"

#include <mutex>

namespace telemetry::core {
namespace {

std::mutex& dependencyMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<DRTLHttpClientProtocol>& injectedClient() {
  static std::shared_ptr<DRTLHttpClientProtocol> client;  // guarded by dependencyMutex()
  return client;
}

}  // namespace

std::shared_ptr<DRTLHttpClientProtocol> DRTLDependencyConfiguration::httpClient() {
  std::lock_guard lock(dependencyMutex());
  return injectedClient();
}

void DRTLDependencyConfiguration::setHttpClient(std::shared_ptr<DRTLHttpClientProtocol> httpClient) {
  std::lock_guard lock(dependencyMutex());
  injectedClient() = std::move(httpClient);
}

void DRTLWrapperLogger::DRTLWrapperLog(const DRTLLogMessageProvider& message, const std::string& tag, int level) {
  DRTLLogger::logMessage(message, level, tag, __FILE__, __func__, __LINE__);
}

}  // namespace telemetry::core
