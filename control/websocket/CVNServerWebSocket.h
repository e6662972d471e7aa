#pragma once
// CVNServerWebSocket: the server side of a WebSocket, made by the HTTP
// connection from an upgrade request. start() answers the opening handshake
// (101, the accept key, the one protocol its creator chose) and reads frames;
// incoming text goes to handleReceivedData (a subclass's), and the host pushes
// messages with sendData.
//
// Held by shared_ptr (the host keeps it); lives on the queue of the connection
// it came from (the socket's delegate queue at hand-over).

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "control/websocket/CVNWebSocket.h"
#include "control/websocket/HTTPMessage.h"

namespace control {

class CVNServerWebSocket;

class CVNServerWebSocketDelegate {
 public:
  virtual ~CVNServerWebSocketDelegate() = default;
  virtual void socketDidClose(CVNServerWebSocket& webSocket) = 0;
};

// Base64(SHA-1(key + the protocol's GUID)); none when it cannot be computed.
std::optional<std::string> webSocketAcceptKey(std::string_view key);

class CVNServerWebSocket : public CVNWebSocket {
 public:
  // Takes over the socket (becomes its delegate on its present delegate queue).
  // `protocol`: the subprotocol to answer with, empty for none.
  static std::shared_ptr<CVNServerWebSocket> create(std::shared_ptr<CVNSocket> socket,
                                                    std::optional<HTTPMessage> request, std::string protocol = {});

  void start();
  void stop();
  std::string clientHostName();
  std::shared_ptr<CVNServerWebSocketDelegate> delegate() const;
  void setDelegate(std::weak_ptr<CVNServerWebSocketDelegate> delegate);

  void socketDidDisconnect(const std::shared_ptr<CVNSocket>& socket, const std::optional<platform::Error>& error) override;

 protected:
  CVNServerWebSocket() = default;
  // For subclasses' factories: what create() does to a new object.
  static void adopt(const std::shared_ptr<CVNServerWebSocket>& webSocket, std::shared_ptr<CVNSocket> socket,
                    std::optional<HTTPMessage> request, std::string protocol);

 private:
  std::optional<HTTPMessage> message_;
  std::string protocol_;
  mutable std::mutex mutex_;
  std::optional<std::string> clientHostName_;            // guarded by mutex_
  std::weak_ptr<CVNServerWebSocketDelegate> delegate_;  // guarded by mutex_
};

}  // namespace control
