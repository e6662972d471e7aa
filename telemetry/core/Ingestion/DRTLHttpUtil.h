#pragma once
// DRTLHttpUtil: the status and transport-error classes the HTTP client and
// the channel units share, the response record, and secret masking.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Error.h"

namespace telemetry::core {

// The telemetry error domain and its codes.
inline constexpr const char* DRTLErrorDomain = "TelemetrySDK.ErrorDomain";
enum DRTLErrorCode : int {
  DRTLLogInvalidContainerErrorCode = 1,
  DRTLCanceledErrorCode = 2,
  DRTLDisabledErrorCode = 3,
  DRTLConnectionPausedErrorCode = 100,
};
inline constexpr const char* kDRTLCanceledErrorDesc = "The operation was canceled.";
inline constexpr const char* kDRTLDisabledErrorDesc = "The service is disabled.";
inline constexpr const char* kDRTLConnectionPausedErrorDesc = "Canceled, connection paused with log deletion.";

// Transport failures of the HTTP client; the codes follow the usual URL-loading
// numbering so that the classes below read the same as on other platforms.
inline constexpr const char* DRTLURLErrorDomain = "TelemetrySDK.URLErrorDomain";
enum DRTLURLErrorCode : int {
  DRTLURLErrorUnknown = -1,
  DRTLURLErrorTimedOut = -1001,
  DRTLURLErrorCannotConnectToHost = -1004,
  DRTLURLErrorNetworkConnectionLost = -1005,
  DRTLURLErrorNotConnectedToInternet = -1009,
  DRTLURLErrorResponseTooLarge = -1103,
  DRTLURLErrorSecureConnectionFailed = -1200,
};

// Headers of a request: name -> value.
using DRTLHttpHeaders = std::map<std::string, std::string>;

struct DRTLHttpResponse {
  std::int64_t statusCode = 0;
  std::string url;
  // In arrival order; names as the server wrote them.
  std::vector<std::pair<std::string, std::string>> headers;

  // The first header whose name matches without regard to case.
  std::optional<std::string> valueForHeader(const std::string& name) const;
};

class DRTLHttpUtil {
 public:
  static bool isRecoverableError(std::int64_t statusCode);
  static bool isSuccessStatusCode(std::int64_t statusCode);
  static bool isNoInternetConnectionError(const platform::Error& error);
  static bool isSSLConnectionError(const platform::Error& error);
  // All but the last 8 characters as "*"; 8 or fewer are masked whole.
  static std::string hideSecret(const std::string& secret);
  static std::string hideSecretInString(const std::string& text, const std::string& secret);
};

bool equalsIgnoringCase(const std::string& left, const std::string& right);

}  // namespace telemetry::core
