#include "control/sockets/CVNSocketTypes.h"

#include <netdb.h>

#include <cstring>

namespace control {

ConstBytes makeBytes(std::string_view text) { return std::make_shared<const Bytes>(text.begin(), text.end()); }

namespace socket_errors {
namespace {

platform::Error socketError(CVNSocketError code, std::string description) {
  return platform::Error(CVNSocketErrorDomain, code, std::move(description));
}

}  // namespace

platform::Error badConfigError(std::string message) { return socketError(CVNSocketError::BadConfig, std::move(message)); }
platform::Error badParamError(std::string message) { return socketError(CVNSocketError::BadParam, std::move(message)); }
platform::Error connectTimeoutError() {
  return socketError(CVNSocketError::ConnectTimeout, "Attempt to connect to host timed out");
}
platform::Error readTimeoutError() { return socketError(CVNSocketError::ReadTimeout, "Read operation timed out"); }
platform::Error writeTimeoutError() { return socketError(CVNSocketError::WriteTimeout, "Write operation timed out"); }
platform::Error readMaxedOutError() {
  return socketError(CVNSocketError::ReadMaxedOut, "Read operation reached set maximum length");
}
platform::Error connectionClosedError() { return socketError(CVNSocketError::Closed, "Socket closed by remote peer"); }
platform::Error otherError(std::string message) { return socketError(CVNSocketError::Other, std::move(message)); }

platform::Error errorWithErrno(int error, std::string reason) {
  platform::Dictionary info;
  if (!reason.empty()) info[kFailureReasonKey] = platform::Value(reason);
  return platform::Error(kPOSIXErrorDomain, error, std::strerror(error), std::move(info));
}

platform::Error gaiError(int code) { return platform::Error(kNetDBErrorDomain, code, ::gai_strerror(code)); }

platform::Error sslError(int status, std::string detail) {
  platform::Dictionary info;
  info[kRecoverySuggestionKey] = platform::Value("Error code definition can be found in Apple's SecureTransport.h");
  return platform::Error(kSSLErrorDomain, status, std::move(detail), std::move(info));
}

}  // namespace socket_errors
}  // namespace control
