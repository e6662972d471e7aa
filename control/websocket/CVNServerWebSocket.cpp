#include "control/websocket/CVNServerWebSocket.h"

#include "foundation/Digests.h"
#include "platform/Base64.h"

namespace control {

std::optional<std::string> webSocketAcceptKey(std::string_view key) {
  auto digest = foundation::sha1DigestOfString(std::string(key) + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11");
  if (!digest) return std::nullopt;
  return platform::base64Encode(*digest);
}

std::shared_ptr<CVNServerWebSocket> CVNServerWebSocket::create(std::shared_ptr<CVNSocket> socket,
                                                               std::optional<HTTPMessage> request, std::string protocol) {
  auto webSocket = std::shared_ptr<CVNServerWebSocket>(new CVNServerWebSocket());
  adopt(webSocket, std::move(socket), std::move(request), std::move(protocol));
  return webSocket;
}

void CVNServerWebSocket::adopt(const std::shared_ptr<CVNServerWebSocket>& webSocket, std::shared_ptr<CVNSocket> socket,
                               std::optional<HTTPMessage> request, std::string protocol) {
  webSocket->socket_ = std::move(socket);
  webSocket->message_ = std::move(request);
  webSocket->protocol_ = std::move(protocol);
  webSocket->socketQueue_ = webSocket->socket_->delegateQueue();
  webSocket->socket_->synchronouslySetDelegate(std::static_pointer_cast<CVNSocketDelegate>(webSocket));
}

void CVNServerWebSocket::start() {
  const HTTPMessage empty = HTTPMessage::emptyRequest();
  const HTTPMessage& request = message_ ? *message_ : empty;
  HTTPMessage response = HTTPMessage::response(101);
  response.setHeaderField("Upgrade", "websocket");
  response.setHeaderField("Connection", "Upgrade");
  if (auto origin = request.headerField("Origin")) response.setHeaderField("WebSocket-Origin", *origin);
  if (auto host = request.headerField("Host")) response.setHeaderField("WebSocket-Location", "http://" + *host + request.path());
  if (!protocol_.empty()) response.setHeaderField("Sec-WebSocket-Protocol", protocol_);
  auto key = request.headerField("Sec-WebSocket-Key");
  std::optional<std::string> accept = key ? webSocketAcceptKey(*key) : std::nullopt;
  if (!accept) {
    stop();
    return;
  }
  response.setHeaderField("Sec-WebSocket-Accept", *accept);
  socket_->writeData(makeBytes(response.serialize()), -1, 0);
  readNextFrame();
}

void CVNServerWebSocket::stop() {
  if (socket_) socket_->disconnect();
}

std::string CVNServerWebSocket::clientHostName() {
  std::lock_guard guard(mutex_);
  if (!clientHostName_ && socket_) clientHostName_ = socket_->connectedHost();
  return clientHostName_.value_or(std::string());
}

std::shared_ptr<CVNServerWebSocketDelegate> CVNServerWebSocket::delegate() const {
  std::lock_guard guard(mutex_);
  return delegate_.lock();
}

void CVNServerWebSocket::setDelegate(std::weak_ptr<CVNServerWebSocketDelegate> delegate) {
  std::lock_guard guard(mutex_);
  delegate_ = std::move(delegate);
}

void CVNServerWebSocket::socketDidDisconnect(const std::shared_ptr<CVNSocket>&, const std::optional<platform::Error>&) {
  if (auto d = delegate()) d->socketDidClose(*this);
}

}  // namespace control
