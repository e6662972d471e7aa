#include "telemetry/core/Ingestion/DRTLHttpUtil.h"

#include <algorithm>
#include <cctype>

namespace telemetry::core {

bool equalsIgnoringCase(const std::string& left, const std::string& right) {
  return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

std::optional<std::string> DRTLHttpResponse::valueForHeader(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

bool DRTLHttpUtil::isRecoverableError(std::int64_t statusCode) {
  return statusCode == 0 || statusCode == 408 || statusCode == 429 || statusCode >= 500;
}

bool DRTLHttpUtil::isSuccessStatusCode(std::int64_t statusCode) { return statusCode >= 200 && statusCode < 300; }

bool DRTLHttpUtil::isNoInternetConnectionError(const platform::Error& error) {
  return error.domain == DRTLURLErrorDomain &&
         (error.code == DRTLURLErrorNotConnectedToInternet || error.code == DRTLURLErrorNetworkConnectionLost);
}

bool DRTLHttpUtil::isSSLConnectionError(const platform::Error& error) {
  return error.domain == DRTLURLErrorDomain && error.code >= -2000 && error.code <= -1200;
}

std::string DRTLHttpUtil::hideSecret(const std::string& secret) {
  const std::size_t hidden = secret.size() <= 8 ? secret.size() : secret.size() - 8;
  return std::string(hidden, '*') + secret.substr(hidden);
}

std::string DRTLHttpUtil::hideSecretInString(const std::string& text, const std::string& secret) {
  if (secret.empty()) return text;
  const std::string masked = hideSecret(secret);
  std::string result = text;
  for (std::size_t at = result.find(secret); at != std::string::npos; at = result.find(secret, at + masked.size())) {
    result.replace(at, secret.size(), masked);
  }
  return result;
}

}  // namespace telemetry::core
