#pragma once
// Values shared by the socket classes: byte buffers, the data a read delivers,
// the socket's error domain and the line terminators.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"

namespace control {

using Bytes = std::vector<std::uint8_t>;
// A caller's read buffer: the socket writes into it until the read completes.
using SharedBytes = std::shared_ptr<Bytes>;
// Data handed to a write: the socket reads this very object until the write completes.
using ConstBytes = std::shared_ptr<const Bytes>;

ConstBytes makeBytes(std::string_view text);

// The bytes of one completed read: a view into the packet's buffer (its own, or
// the caller's, which it keeps alive) without a copy.
class CVNSocketData {
 public:
  CVNSocketData() = default;
  CVNSocketData(std::shared_ptr<const Bytes> storage, std::size_t offset, std::size_t length)
      : storage_(std::move(storage)), offset_(offset), length_(length) {}

  const std::uint8_t* data() const { return storage_ ? storage_->data() + offset_ : nullptr; }
  std::size_t size() const { return length_; }
  bool empty() const { return length_ == 0; }
  std::string_view view() const { return {reinterpret_cast<const char*>(data()), length_}; }
  Bytes copy() const { return Bytes(data(), data() + length_); }
  // A part of these bytes sharing the same storage.
  CVNSocketData slice(std::size_t offset, std::size_t length) const { return {storage_, offset_ + offset, length}; }

 private:
  std::shared_ptr<const Bytes> storage_;
  std::size_t offset_ = 0;
  std::size_t length_ = 0;
};

inline constexpr const char* CVNSocketErrorDomain = "CVNSocketErrorDomain";
inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kNetDBErrorDomain = "kCFStreamErrorDomainNetDB";
inline constexpr const char* kSSLErrorDomain = "kCFStreamErrorDomainSSL";
inline constexpr const char* kFailureReasonKey = "NSLocalizedFailureReason";
inline constexpr const char* kRecoverySuggestionKey = "NSLocalizedRecoverySuggestion";

// TLS statuses the socket tells apart.
inline constexpr int kSSLWouldBlock = -9803;
inline constexpr int kSSLClosedGraceful = -9805;
inline constexpr int kSSLClosedAbort = -9806;
inline constexpr int kSSLPeerBadCert = -9825;
inline constexpr int kSSLPeerAuthCompleted = -9841;

enum class CVNSocketError {
  NoError = 0,
  BadConfig = 1,
  BadParam = 2,
  ConnectTimeout = 3,
  ReadTimeout = 4,
  WriteTimeout = 5,
  ReadMaxedOut = 6,
  Closed = 7,
  Other = 8,
};

namespace socket_errors {
platform::Error badConfigError(std::string message);
platform::Error badParamError(std::string message);
platform::Error connectTimeoutError();
platform::Error readTimeoutError();
platform::Error writeTimeoutError();
platform::Error readMaxedOutError();
platform::Error connectionClosedError();
platform::Error otherError(std::string message);
// POSIX domain, code errno, the system's text, `reason` as failure reason.
platform::Error errorWithErrno(int error, std::string reason);
// Resolver failure in the NetDB domain with the resolver's text.
platform::Error gaiError(int code);
// TLS failure; `detail` (the TLS library's reason) is added to the description when given.
platform::Error sslError(int status, std::string detail = {});
}  // namespace socket_errors

}  // namespace control
