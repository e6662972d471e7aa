#pragma once
// CVNClientWebSocket: opens and keeps a WebSocket connection to a device that
// pushes JSON events. Sends the opening handshake (a 16-byte key whose answer
// is checked, no extension offered), answers a 401 with Basic (only when the
// server asks for Basic) or Digest (qop "auth", login from the keychain by
// server name), pings (first at 5 s, then every 10 s; no pong since the last
// ping disconnects), reconnects by itself (after a lost connection at once,
// then 1 s, then every 10 s; after a failed first attempt 1 s, then 10 s) and
// hands every text message that is a JSON object to its delegate.
//
// Held by shared_ptr. Lives on its strand "com.dirarovazovo.websocket.client":
// socket callbacks, the handshake, timers, retries and every delegate call run
// there; connect runs on the caller's thread, disconnect and sendData may be
// called from any thread. Every time limit is on platform::Clock. No
// credential is ever logged.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "control/websocket/CVNWebSocket.h"
#include "control/websocket/HTTPMessage.h"
#include "control/websocket/JsonObjectReader.h"
#include "platform/Keychain.h"

namespace control {

class CVNClientWebSocket;

// All calls on the client's queue.
class CVNClientWebSocketDelegate {
 public:
  virtual ~CVNClientWebSocketDelegate() = default;
  virtual void socketDidOpen(CVNClientWebSocket&) {}
  virtual void socketDidAutomaticallyReconnect(CVNClientWebSocket&) {}
  virtual void socketDidLoseConnection(CVNClientWebSocket&) {}
  virtual void socketDidClose(CVNClientWebSocket& client) = 0;
  virtual void socketDoesNotSupportProtocol(CVNClientWebSocket&) {}
  virtual void socketRequiresAuthentication(CVNClientWebSocket&) {}
  virtual void socketDidTimeout(CVNClientWebSocket&) {}
  virtual void socketCouldNotOpen(CVNClientWebSocket&) {}
  virtual void socketCouldNotReconnect(CVNClientWebSocket&) {}
  virtual void socketDidReceiveEvent(CVNClientWebSocket& client, const nlohmann::json& event) = 0;
};

class CVNClientWebSocket : public CVNWebSocket {
 public:
  static constexpr std::size_t kMaxHandshakeLine = 8190;

  // `path` without its leading "/".
  static std::shared_ptr<CVNClientWebSocket> create(std::string host, std::uint16_t port, std::string path,
                                                    std::string protocol = {}, std::string user = {},
                                                    std::string password = {});
  ~CVNClientWebSocket() override;

  bool connect() { return connectWithTimeout(-1); }
  bool connectWithTimeout(double seconds);
  void disconnect();
  void tryToReconnectAfterTimeInterval(double seconds);
  virtual void startPingPongTimer();
  virtual void stopPingPongTimer();
  void handleReceivedData(const CVNSocketData& payload) override;

  // The Digest "Authorization" value for a 401 response, from "user",
  // "password", "uri" and "method"; none unless the challenge is Digest with
  // qop "auth", a realm and a nonce.
  static std::optional<std::string> digestAuthenticationStringWithAuthenticationMessage(
      const HTTPMessage& response, const platform::Dictionary& dictionary);
  // "user" and "password" stored for `server`; none without a server or item.
  static std::optional<platform::Dictionary> keychainLoginInfoForServer(const std::string& server,
                                                                        const platform::Keychain& keychain);

  bool isConnecting() const { return isConnecting_.load(); }
  bool isConnected() const { return isConnected_.load(); }
  bool isReconnecting() const { return isReconnecting_.load(); }
  bool automaticReconnection() const { return automaticReconnection_.load(); }
  void setAutomaticReconnection(bool value) { automaticReconnection_.store(value); }
  const std::string& host() const { return host_; }
  std::uint16_t portNumber() const { return port_; }
  const std::string& path() const { return path_; }
  const std::string& protocol() const { return protocol_; }
  const std::string& user() const { return user_; }
  std::string displayName() const;
  void setDisplayName(std::string name);
  std::shared_ptr<CVNClientWebSocketDelegate> delegate() const;
  void setDelegate(std::weak_ptr<CVNClientWebSocketDelegate> delegate);
  // The store of Digest logins (the user's keychain by default).
  void setKeychain(std::shared_ptr<const platform::Keychain> keychain);
  // Attempts since the last successful handshake.
  std::uint64_t reconnectionAttempts() const { return attempts_.load(); }

  void socketDidConnectToHost(const std::shared_ptr<CVNSocket>& socket, const std::string& host,
                              std::uint16_t port) override;
  // Only the handshake request's write matters: the reply is read after it.
  bool wantsWriteProgressForTag(std::int64_t tag) const override { return tag == kHandshakeRequest; }
  void socketDidWriteDataWithTag(const std::shared_ptr<CVNSocket>& socket, std::int64_t tag) override;
  void socketDidReadData(const std::shared_ptr<CVNSocket>& socket, const CVNSocketData& data, std::int64_t tag) override;
  void socketDidDisconnect(const std::shared_ptr<CVNSocket>& socket, const std::optional<platform::Error>& error) override;

 protected:
  CVNClientWebSocket(std::string host, std::uint16_t port, std::string path, std::string protocol, std::string user,
                     std::string password);
  // Before connecting: the first ping that long after the handshake, then one every `everySeconds`.
  void setPingIntervals(double firstSeconds, double everySeconds) {
    firstPingSeconds_ = firstSeconds;
    pingIntervalSeconds_ = everySeconds;
  }

 private:
  enum Tag : std::int64_t { kHandshakeRequest = 201, kHandshakeLine = 202 };
  bool startConnecting();
  void sendHandshake();
  void handshakeResponseComplete();
  void prepareAuthorization();
  void schedulePing(double seconds);
  template <typename Call>
  void tellDelegate(Call&& call);

  const std::string host_;
  const std::uint16_t port_;
  const std::string path_;
  const std::string protocol_;
  const std::string user_;
  const std::string password_;

  std::atomic<bool> isConnecting_{false};
  std::atomic<bool> isConnected_{false};
  std::atomic<bool> isReconnecting_{false};
  std::atomic<bool> automaticReconnection_{true};
  std::atomic<std::uint64_t> attempts_{0};
  double connectionTimeout_ = -1;  // set before an attempt starts, read on the queue
  double firstPingSeconds_ = 5;  // both set before connecting
  double pingIntervalSeconds_ = 10;

  // On the client's queue:
  std::optional<HTTPMessage> responseMessage_;
  JsonObjectReader jsonReader_;  // on socketQueue_
  std::string expectedAccept_;
  std::optional<std::string> authorization_;  // prepared after a 401, sent once
  platform::TaskHandle pingTimer_;
  bool pingTimerRunning_ = false;
  platform::TaskHandle retryTimer_;

  mutable std::mutex mutex_;
  std::string displayName_;                                    // guarded by mutex_
  std::weak_ptr<CVNClientWebSocketDelegate> delegate_;        // guarded by mutex_
  std::shared_ptr<const platform::Keychain> keychain_;         // guarded by mutex_
  std::mutex connectMutex_;  // serialises connect calls from several threads
};

}  // namespace control
