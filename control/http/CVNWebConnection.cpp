#include "control/http/CVNWebConnection.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "platform/Base64.h"
#include "platform/StrandQueue.h"

namespace control {
namespace {

std::string lowerCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

// The comma-separated tokens of a header value, trimmed.
std::vector<std::string> tokens(const std::string& value) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start <= value.size()) {
    const std::size_t comma = value.find(',', start);
    std::string token = trimmed(std::string_view(value).substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (!token.empty()) result.push_back(std::move(token));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return result;
}

}  // namespace

void CVNWebConnection::adopt(std::shared_ptr<CVNSocket> socket, std::weak_ptr<CVNWebConnectionDelegate> delegate) {
  socket_ = std::move(socket);
  delegate_ = std::move(delegate);
  socketQueue_ = std::make_shared<platform::StrandQueue>("com.dirarovazovo.WebService.connectionQueue");
  socket_->synchronouslySetDelegate(weak_from_this(), socketQueue_);
}

CVNWebConnection::~CVNWebConnection() = default;

void CVNWebConnection::start() { readHeaderLine(); }

void CVNWebConnection::readHeaderLine() {
  socket_->readDataToData(CVNSocket::CRLFData(), kReadTimeout, HTTPMessage::kMaxLineLength, kHeaderLine);
}

void CVNWebConnection::readBodyChunk() {
  const auto remaining = static_cast<std::size_t>(receivedContentLength_) - incomingBody_.size();
  socket_->readDataToLength(std::min(remaining, kBodyReadSize), kReadTimeout, kBody);
}

std::string CVNWebConnection::path() const {
  std::string path = incomingMessage_.path();
  if (!path.empty() && path.front() == '/') path.erase(0, 1);
  return path;
}

void CVNWebConnection::socketDidReadData(const std::shared_ptr<CVNSocket>&, const CVNSocketData& data, std::int64_t tag) {
  if (tag == kHeaderLine) {
    switch (incomingMessage_.appendHeaderLine(data.view())) {
      case HTTPMessage::AppendResult::NeedMore:
        return readHeaderLine();
      case HTTPMessage::AppendResult::Complete:
        return headerComplete();
      case HTTPMessage::AppendResult::Malformed:
      case HTTPMessage::AppendResult::TooLarge:
        return respondWithInvalidRequest();
    }
    return;
  }
  if (tag != kBody) return;
  incomingBody_.append(data.view());
  if (incomingBody_.size() < static_cast<std::size_t>(receivedContentLength_)) return readBodyChunk();
  const std::string p = path();
  if (p.empty()) return respondWithNotFound();
  route(incomingMessage_.method(), p, false);
}

void CVNWebConnection::headerComplete() {
  const std::string& method = incomingMessage_.method();
  if (method.empty()) return respondWithInvalidRequest();
  const std::string p = path();
  if (shouldAuthenticateForMethod(method, p) && !isAuthenticatedForMethod(method, p)) return respondWithNotAuthorized();
  const auto upgrade = incomingMessage_.headerField("Upgrade");
  const auto connection = incomingMessage_.headerField("Connection");
  const bool isUpgrade = upgrade && lowerCased(*upgrade) == "websocket" && connection &&
                         std::ranges::any_of(tokens(*connection), [](const std::string& t) { return lowerCased(t) == "upgrade"; });
  if (isUpgrade) return upgradeToWebSocket(p);
  if (!respondsToMethod(method, p)) {
    return method.starts_with("GET") || method.starts_with("POST") ? respondWithNotFound() : respondWithInvalidRequest();
  }
  if (!expectsBodyForMethod(method)) return route(method, p, true);
  const auto length = incomingMessage_.headerField("Content-Length");
  receivedContentLength_ = 0;
  if (length) {
    const std::string text = trimmed(*length);
    const bool digits = !text.empty() && text.size() <= 18 && std::ranges::all_of(text, [](unsigned char c) { return std::isdigit(c); });
    receivedContentLength_ = digits ? std::stoll(text) : 0;
  }
  incomingContentType_ = incomingMessage_.headerField("Content-Type").value_or("");
  incomingBody_.clear();
  if (receivedContentLength_ < 1) return respondWithInvalidRequestWithErrorCode(411, std::nullopt);
  if (receivedContentLength_ > kMaximumBodyLength) return respondWithInvalidRequestWithErrorCode(413, std::nullopt);
  readBodyChunk();
}

void CVNWebConnection::upgradeToWebSocket(const std::string& p) {
  const auto version = incomingMessage_.headerField("Sec-WebSocket-Version");
  if (!version || trimmed(*version) != "13") return respondWithInvalidRequest();
  // Each offered protocol in order; the first one accepted is answered.
  std::optional<std::string> chosen;
  const auto offered = incomingMessage_.headerField("Sec-WebSocket-Protocol");
  if (!offered) {
    if (respondsToWebSocketProtocol(std::nullopt, p)) chosen = "";
  } else {
    for (const std::string& protocol : tokens(*offered)) {
      if (respondsToWebSocketProtocol(protocol, p)) {
        chosen = protocol;
        break;
      }
    }
  }
  if (!chosen) return respondWithInvalidRequest();
  auto webSocket = CVNServerWebSocket::create(socket_, incomingMessage_, *chosen);
  finished_ = true;
  handleWebSocket(webSocket, *chosen, p);
  if (auto d = delegate()) d->connectionDidFinish(*this);
}

void CVNWebConnection::route(const std::string& method, const std::string& p, bool optionsRule) {
  std::int64_t code = 200;
  if (auto data = responseForMethod(method, p, code)) return respondWithData(*data, code);
  if (optionsRule && method == "OPTIONS") return respondWithData({}, 200);
  respondWithNotFound();
}

void CVNWebConnection::socketDidWriteDataWithTag(const std::shared_ptr<CVNSocket>&, std::int64_t tag) {
  if (tag == kResponse) socket_->disconnect();
}

void CVNWebConnection::socketDidDisconnect(const std::shared_ptr<CVNSocket>&, const std::optional<platform::Error>& error) {
  if (finished_) return;
  finished_ = true;
  auto d = delegate();
  if (!d) return;
  if (error && error->domain == CVNSocketErrorDomain && error->code == static_cast<int>(CVNSocketError::WriteTimeout)) {
    d->logMessage("Responding to request " + incomingMessage_.path() + " timed out");
  }
  d->connectionDidFinish(*this);
}

// --- hooks ------------------------------------------------------------------

bool CVNWebConnection::shouldAuthenticateForMethod(const std::string&, const std::string&) { return false; }

bool CVNWebConnection::isAuthenticatedForMethod(const std::string& method, const std::string& p) {
  // Only the header counts: credentials in a query end up in logs and histories.
  std::optional<std::string> user, password;
  const auto authorization = incomingMessage_.headerField("Authorization");
  if (authorization && authorization->starts_with("Basic ")) {
    std::string encoded;
    for (char c : authorization->substr(6)) {
      if (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=') encoded += c;
    }
    if (auto decoded = platform::base64Decode(encoded)) {
      const std::string text(decoded->begin(), decoded->end());
      if (const auto colon = text.find(':'); colon != std::string::npos) {
        user = text.substr(0, colon);
        password = text.substr(colon + 1);
      }
    }
  }
  return validateUser(user, password, method, p);
}

bool CVNWebConnection::validateUser(const std::optional<std::string>&, const std::optional<std::string>&,
                                    const std::string&, const std::string&) {
  return false;
}

bool CVNWebConnection::respondsToMethod(const std::string&, const std::string&) { return false; }

bool CVNWebConnection::expectsBodyForMethod(const std::string& method) { return method == "POST" || method == "PUT"; }

std::optional<std::string> CVNWebConnection::responseForMethod(const std::string& method, const std::string& p,
                                                               std::int64_t&) {
  return responseForMethod(method, p);
}

std::optional<std::string> CVNWebConnection::responseForMethod(const std::string&, const std::string&) {
  return std::nullopt;
}

bool CVNWebConnection::respondsToWebSocketProtocol(const std::optional<std::string>&, const std::string&) {
  return false;
}

void CVNWebConnection::handleWebSocket(const std::shared_ptr<CVNServerWebSocket>& webSocket, const std::string&,
                                       const std::string&) {
  webSocket->stop();
}

std::vector<std::string> CVNWebConnection::pathComponents() const {
  std::vector<std::string> components{"/"};
  const std::string full = incomingMessage_.path();
  std::size_t start = full.starts_with("/") ? 1 : 0;
  while (start < full.size()) {
    const std::size_t slash = full.find('/', start);
    const std::string piece = full.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!piece.empty()) components.push_back(piece);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  if (components.size() < 2) return {};
  components.erase(components.begin());
  return components;
}

std::string CVNWebConnection::defaultBonjourServiceName() {
  char host[256] = {};
  std::string name = ::gethostname(host, sizeof host - 1) == 0 ? host : "";
  if (name.ends_with(".local")) name.resize(name.size() - 6);
  return name.empty() ? "Corvane" : name;
}

}  // namespace control
