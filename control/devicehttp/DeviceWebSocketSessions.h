#pragma once
// DeviceWebSocketSessions: the WebSocket sessions of the device HTTP
// controller. Each session is a WebSocket client (no reconnecting of its own,
// a ping at once and every 5 s) to a device that pushes events; every
// non-empty text message goes to the delegate as sent and, unless it is a
// playback timing change, to the simple message log
// "<date>_<server>_<instance>_<host-port>_C-WS.log" (fill-ins "<unknown
// server>", "<unknown instance>", "<unknown ip and port>"). Opening, closing
// and completing are logged there too.
//
// Owned by the controller. open and closeAll on any thread; delegate calls
// come on the sessions' own queues. Destruction closes every session and
// waits for no call.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"

namespace control {

class CVNClientWebSocket;

// Every member is optional.
class CVNAuthenticatedURLSessionController_Delegate {
 public:
  virtual ~CVNAuthenticatedURLSessionController_Delegate() = default;
  virtual void webSocketSessionDidOpen(std::uint64_t /*session*/) {}
  virtual void webSocketSessionDidClose(std::uint64_t /*session*/, std::int64_t /*closeCode*/) {}
  virtual void webSocketSessionDidReceiveDataMessage(std::uint64_t /*session*/, const std::string& /*data*/) {}
  virtual void webSocketSessionDidReceiveStringMessage(std::uint64_t /*session*/, const std::string& /*text*/) {}
  virtual void webSocketSessionDidCompleteWithError(std::uint64_t /*session*/,
                                                    const std::optional<platform::Error>& /*error*/) {}
  virtual std::optional<std::string> serverName() { return std::nullopt; }
  virtual std::optional<std::string> instanceName() { return std::nullopt; }
  virtual std::optional<std::string> hostNameAndPortNumberUsingSeparator(const std::string& /*separator*/) {
    return std::nullopt;
  }
};

class DeviceWebSocketSessions {
 public:
  DeviceWebSocketSessions() = default;
  ~DeviceWebSocketSessions();
  DeviceWebSocketSessions(const DeviceWebSocketSessions&) = delete;
  DeviceWebSocketSessions& operator=(const DeviceWebSocketSessions&) = delete;

  // Not owned; must outlive the sessions or be cleared first.
  void setDelegate(CVNAuthenticatedURLSessionController_Delegate* delegate);

  // "ws://host[:port]/path"; none for another URL or a client that cannot start.
  // Without processing, the session connects but reads no message until started.
  std::optional<std::uint64_t> open(const std::string& url, const std::vector<std::string>& protocols,
                                    bool startProcessingMessages, const std::string& user,
                                    const std::string& password);
  void closeAll();
  // On every open session. A suspended session keeps its connection and reads
  // nothing; the messages held back arrive in order once it resumes.
  void startProcessingMessages() { setProcessingMessages(true); }
  void suspendProcessingMessages() { setProcessingMessages(false); }
  void resumeProcessingMessages() { setProcessingMessages(true); }
  std::size_t count() const;
  // A line for the same message log file.
  void logSimpleMessage(const std::string& text);

  // "<server>_<instance>_<host-port>_C-WS" for the delegate's answers.
  static std::string logFileName(CVNAuthenticatedURLSessionController_Delegate* delegate);
  // Whether a received text is written to the message log.
  static bool shouldLogMessage(const std::string& text);

 private:
  class Session;
  void setProcessingMessages(bool processing);
  void sessionEnded(std::uint64_t id, std::int64_t closeCode, const char* how, const std::string& description);

  mutable std::mutex lock_;
  CVNAuthenticatedURLSessionController_Delegate* delegate_ = nullptr;  // guarded by lock_
  std::uint64_t nextId_ = 1;                                           // guarded by lock_
  std::map<std::uint64_t, std::shared_ptr<Session>> sessions_;          // guarded by lock_
};

}  // namespace control
