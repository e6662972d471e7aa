#pragma once
// CVNWebConnection: one HTTP/1.1 exchange on an accepted socket. It reads one
// request head (lines of at most 8190 bytes, 100 lines, 64 KiB, 30 s each),
// asks the routing hooks what to answer, reads a body when the method takes
// one (growing as bytes arrive, at most 100663296 bytes), writes one response
// with "Content-Length", "Connection: close" and "Date", and closes. A WebSocket
// upgrade hands the socket to a CVNServerWebSocket instead.
//
// A host subclasses it and overrides the hooks; the base class answers every
// request with an error. Everything runs on the connection's own strand
// ("com.dirarovazovo.WebService.connectionQueue"), the socket's delegate queue,
// so hooks of different connections run concurrently.
//
// Made by CVNWebServer; held by shared_ptr (the server's list keeps it until
// it reports its end).

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "control/sockets/CVNSocket.h"
#include "control/websocket/CVNServerWebSocket.h"
#include "control/websocket/HTTPMessage.h"

namespace control {

class CVNWebConnection;

class CVNWebConnectionDelegate {
 public:
  virtual ~CVNWebConnectionDelegate() = default;
  virtual void connectionDidFinish(CVNWebConnection& connection) = 0;
  virtual void logMessage(const std::string& message) = 0;
  // Whether a browser page from `origin` may read the answers (its CORS headers).
  virtual bool allowsOrigin(const std::string& origin) const = 0;
  virtual bool allowsEveryOrigin() const = 0;
};

class CVNWebConnection : public CVNSocketDelegate, public std::enable_shared_from_this<CVNWebConnection> {
 public:
  static constexpr std::int64_t kMaximumBodyLength = 100663296;
  static constexpr std::size_t kBodyReadSize = 8192;
  static constexpr double kReadTimeout = 30;

  // A parameter's value: decoded text, or the pieces of a "key[]" value.
  using Parameter = std::variant<std::string, std::vector<std::string>>;

  // Makes a connection of type T, the delegate of `socket` on its own strand.
  template <typename T = CVNWebConnection>
  static std::shared_ptr<T> create(std::shared_ptr<CVNSocket> socket, std::weak_ptr<CVNWebConnectionDelegate> delegate) {
    auto connection = std::shared_ptr<T>(new T());
    connection->adopt(std::move(socket), std::move(delegate));
    return connection;
  }
  ~CVNWebConnection() override;

  void start();
  const std::shared_ptr<CVNSocket>& socket() const { return socket_; }
  const std::shared_ptr<platform::DispatchQueue>& socketQueue() const { return socketQueue_; }

  // Routing hooks (paths without the leading "/"; the root is "").
  virtual bool shouldAuthenticateForMethod(const std::string& method, const std::string& path);
  virtual bool isAuthenticatedForMethod(const std::string& method, const std::string& path);
  virtual bool validateUser(const std::optional<std::string>& user, const std::optional<std::string>& password,
                            const std::string& method, const std::string& path);
  virtual bool respondsToMethod(const std::string& method, const std::string& path);
  virtual bool expectsBodyForMethod(const std::string& method);
  virtual std::optional<std::string> responseForMethod(const std::string& method, const std::string& path,
                                                       std::int64_t& code);
  virtual std::optional<std::string> responseForMethod(const std::string& method, const std::string& path);
  // One offered subprotocol (none when the request names none).
  virtual bool respondsToWebSocketProtocol(const std::optional<std::string>& protocol, const std::string& path);
  virtual void handleWebSocket(const std::shared_ptr<CVNServerWebSocket>& webSocket, const std::string& protocol,
                               const std::string& path);

  // For subclasses.
  std::vector<std::string> pathComponents() const;
  std::map<std::string, Parameter> parameters() const;
  static std::vector<std::string> getParametersArray(const std::string& rawValue, const std::string& key);
  static std::optional<std::string> stringByDecodingURLFormat(const std::string& text);
  const std::string& incomingBody() const { return incomingBody_; }
  const std::string& incomingContentType() const { return incomingContentType_; }
  const HTTPMessage& incomingMessage() const { return incomingMessage_; }
  void setOutgoingContentType(std::string type) { outgoingContentType_ = std::move(type); }
  void setOutgoingContentTypeStringForType(int code);
  void respondWithData(const std::string& data, std::int64_t code = 200);
  void respondWithNotFound();
  void respondWithNotAuthorized();
  void respondWithInvalidRequest();
  void respondWithInvalidRequestWithErrorCode(std::int64_t code, const std::optional<std::string>& body);
  // The host name without ".local"; "Corvane" when that is empty.
  static std::string defaultBonjourServiceName();

  // Socket delegate.
  void socketDidReadData(const std::shared_ptr<CVNSocket>& socket, const CVNSocketData& data, std::int64_t tag) override;
  void socketDidWriteDataWithTag(const std::shared_ptr<CVNSocket>& socket, std::int64_t tag) override;
  void socketDidDisconnect(const std::shared_ptr<CVNSocket>& socket, const std::optional<platform::Error>& error) override;

 protected:
  CVNWebConnection() = default;

 private:
  enum Tag : std::int64_t { kHeaderLine = 1, kBody = 2, kResponse = 3 };
  void adopt(std::shared_ptr<CVNSocket> socket, std::weak_ptr<CVNWebConnectionDelegate> delegate);
  void readHeaderLine();
  void readBodyChunk();
  void headerComplete();
  void upgradeToWebSocket(const std::string& path);
  void route(const std::string& method, const std::string& path, bool optionsRule);
  void writeResponse(const HTTPMessage& response, std::optional<double> timeout);
  HTTPMessage makeResponse(std::int64_t code) const;
  std::string path() const;
  std::shared_ptr<CVNWebConnectionDelegate> delegate() const { return delegate_.lock(); }

  std::shared_ptr<CVNSocket> socket_;
  std::shared_ptr<platform::DispatchQueue> socketQueue_;
  HTTPMessage incomingMessage_ = HTTPMessage::emptyRequest();
  std::int64_t receivedContentLength_ = 0;
  std::string incomingBody_;
  std::string incomingContentType_;
  std::optional<std::string> outgoingContentType_;
  std::weak_ptr<CVNWebConnectionDelegate> delegate_;
  bool finished_ = false;
};

}  // namespace control
