#pragma once
// What a socket tells its owner. Every method is optional and is called on the
// socket's delegate queue, never on the socket queue, with the delegate captured
// (strongly) when the call was queued.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "control/sockets/CVNSocketTypes.h"
#include "platform/Error.h"

namespace platform {
class DispatchQueue;
}

namespace control {

class CVNSocket;
class CVNSocketTrust;

class CVNSocketDelegate {
 public:
  virtual ~CVNSocketDelegate() = default;

  // Before an accepted socket is made: its socket queue, or nullptr for a new
  // strand labelled "CVNSocket".
  virtual std::shared_ptr<platform::DispatchQueue> newSocketQueueForConnectionFromAddress(const Bytes& /*address*/,
                                                                                         CVNSocket& /*listener*/) {
    return nullptr;
  }
  // The delegate must keep `newSocket`.
  virtual void socketDidAcceptNewSocket(const std::shared_ptr<CVNSocket>& /*listener*/,
                                        const std::shared_ptr<CVNSocket>& /*newSocket*/) {}
  virtual void socketDidConnectToHost(const std::shared_ptr<CVNSocket>& /*socket*/, const std::string& /*host*/,
                                      std::uint16_t /*port*/) {}
  virtual void socketDidConnectToUrl(const std::shared_ptr<CVNSocket>& /*socket*/,
                                     const std::filesystem::path& /*url*/) {}
  virtual void socketDidReadData(const std::shared_ptr<CVNSocket>& /*socket*/, const CVNSocketData& /*data*/,
                                 std::int64_t /*tag*/) {}
  virtual void socketDidReadPartialDataOfLength(const std::shared_ptr<CVNSocket>& /*socket*/, std::size_t /*length*/,
                                                std::int64_t /*tag*/) {}
  // Seconds of extension for a read whose time-out fired (0 or less: time
  // out); nullopt: not answered, the same as 0.
  virtual std::optional<double> socketShouldTimeoutReadWithTag(const std::shared_ptr<CVNSocket>& /*socket*/,
                                                               std::int64_t /*tag*/, double /*elapsed*/,
                                                               std::size_t /*bytesDone*/) {
    return std::nullopt;
  }
  // Whether the two write calls below are wanted for writes tagged `tag`
  // (all by default). A delegate that leaves them out is not called, so a
  // stream of small writes costs no queued call each.
  virtual bool wantsWriteProgressForTag(std::int64_t /*tag*/) const { return true; }
  virtual void socketDidWriteDataWithTag(const std::shared_ptr<CVNSocket>& /*socket*/, std::int64_t /*tag*/) {}
  virtual void socketDidWritePartialDataOfLength(const std::shared_ptr<CVNSocket>& /*socket*/, std::size_t /*length*/,
                                                 std::int64_t /*tag*/) {}
  virtual std::optional<double> socketShouldTimeoutWriteWithTag(const std::shared_ptr<CVNSocket>& /*socket*/,
                                                                std::int64_t /*tag*/, double /*elapsed*/,
                                                                std::size_t /*bytesDone*/) {
    return std::nullopt;
  }
  virtual void socketDidCloseReadStream(const std::shared_ptr<CVNSocket>& /*socket*/) {}
  // Once per close of a started socket; `socket` is null while it is being
  // destroyed, `error` none for a requested disconnect.
  virtual void socketDidDisconnect(const std::shared_ptr<CVNSocket>& /*socket*/,
                                   const std::optional<platform::Error>& /*error*/) {}

  virtual void socketDidSecure(const std::shared_ptr<CVNSocket>& /*socket*/) {}
  // Manual trust evaluation (client sockets): answer through `completion`
  // once, from any thread. Only asked when handlesTrustEvaluation() is true.
  virtual bool handlesTrustEvaluation() const { return false; }
  virtual void socketDidReceiveTrust(const std::shared_ptr<CVNSocket>& /*socket*/,
                                     const std::shared_ptr<CVNSocketTrust>& /*trust*/,
                                     std::function<void(bool)> /*completion*/) {}
};

}  // namespace control
