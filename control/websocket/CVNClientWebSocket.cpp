#include "control/websocket/CVNClientWebSocket.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cctype>

#include "control/sockets/CVNSocketInternal.h"
#include "control/websocket/CVNServerWebSocket.h"
#include "control/websocket/DigestAuthentication.h"
#include "foundation/CVNLogController.h"
#include "foundation/Digests.h"
#include "foundation/GenerateUniqueID.h"
#include "platform/Base64.h"
#include "platform/StrandQueue.h"

namespace control {
namespace {

constexpr double kHandshakeLineTimeout = 30;
constexpr double kShortRetry = 1;
constexpr double kLongRetry = 10;

std::string lowerCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string md5Hex(const std::string& text) {
  auto digest = foundation::CreateMD5DigestOfString(text);
  return digest ? hexadecimalString(*digest) : std::string();
}

std::optional<std::string> textOf(const platform::Dictionary& dictionary, const char* key) {
  auto it = dictionary.find(key);
  if (it == dictionary.end() || !it->second.string()) return std::nullopt;
  return *it->second.string();
}

void log(const std::string& message, unsigned level) {
  foundation::CVNLogController::sharedLogController().logMessage(std::string_view(message), static_cast<std::int32_t>(level), false);
}

}  // namespace

std::shared_ptr<CVNClientWebSocket> CVNClientWebSocket::create(std::string host, std::uint16_t port, std::string path,
                                                               std::string protocol, std::string user,
                                                               std::string password) {
  return std::shared_ptr<CVNClientWebSocket>(new CVNClientWebSocket(std::move(host), port, std::move(path),
                                                                    std::move(protocol), std::move(user),
                                                                    std::move(password)));
}

CVNClientWebSocket::CVNClientWebSocket(std::string host, std::uint16_t port, std::string path, std::string protocol,
                                       std::string user, std::string password)
    : host_(std::move(host)),
      port_(port),
      path_(std::move(path)),
      protocol_(std::move(protocol)),
      user_(std::move(user)),
      password_(std::move(password)),
      keychain_(std::shared_ptr<const platform::Keychain>(std::shared_ptr<const platform::Keychain>(),
                                                          &platform::Keychain::standard())) {
  useMask_ = true;
  socketQueue_ = std::make_shared<platform::StrandQueue>("com.dirarovazovo.websocket.client");
}

CVNClientWebSocket::~CVNClientWebSocket() {
  pingTimer_.cancel();
  retryTimer_.cancel();
}

std::string CVNClientWebSocket::displayName() const {
  std::lock_guard guard(mutex_);
  return displayName_;
}
void CVNClientWebSocket::setDisplayName(std::string name) {
  std::lock_guard guard(mutex_);
  displayName_ = std::move(name);
}
std::shared_ptr<CVNClientWebSocketDelegate> CVNClientWebSocket::delegate() const {
  std::lock_guard guard(mutex_);
  return delegate_.lock();
}
void CVNClientWebSocket::setDelegate(std::weak_ptr<CVNClientWebSocketDelegate> delegate) {
  std::lock_guard guard(mutex_);
  delegate_ = std::move(delegate);
}
void CVNClientWebSocket::setKeychain(std::shared_ptr<const platform::Keychain> keychain) {
  std::lock_guard guard(mutex_);
  keychain_ = std::move(keychain);
}

template <typename Call>
void CVNClientWebSocket::tellDelegate(Call&& call) {
  if (auto d = delegate()) call(*d);
}

// --- connecting ---------------------------------------------------------------

bool CVNClientWebSocket::startConnecting() {
  // Marked before the attempt starts: a refusal can end it before connectToHost returns.
  isConnecting_.store(true);
  const bool started = static_cast<bool>(socket_->connectToHost(host_, port_, connectionTimeout_));
  if (!started) isConnecting_.store(false);
  return started;
}

bool CVNClientWebSocket::connectWithTimeout(double seconds) {
  std::lock_guard guard(connectMutex_);
  connectionTimeout_ = seconds;
  if (!socket_) {
    auto self = std::static_pointer_cast<CVNClientWebSocket>(shared_from_this());
    socket_ = CVNSocket::create(std::weak_ptr<CVNSocketDelegate>(self), socketQueue_);
  }
  if (socket_->isConnected()) return false;
  if (startConnecting()) return true;
  if (automaticReconnection_.load()) {
    attempts_.store(1);
    isReconnecting_.store(true);
    tryToReconnectAfterTimeInterval(kLongRetry);
  }
  return false;
}

void CVNClientWebSocket::disconnect() {
  if (!socket_) return;
  std::weak_ptr<CVNWebSocket> weak = weak_from_this();
  socketQueue_->async([weak] {
    auto self = std::static_pointer_cast<CVNClientWebSocket>(weak.lock());
    if (!self) return;
    self->isConnecting_.store(false);
    self->isConnected_.store(false);
    self->isReconnecting_.store(false);
    self->retryTimer_.cancel();
    self->socket_->disconnect();
  });
}

void CVNClientWebSocket::tryToReconnectAfterTimeInterval(double seconds) {
  std::weak_ptr<CVNWebSocket> weak = weak_from_this();
  auto retry = [weak] {
    auto self = std::static_pointer_cast<CVNClientWebSocket>(weak.lock());
    if (!self || !self->isReconnecting_.load()) return;
    const std::uint64_t attempts = ++self->attempts_;
    if (self->startConnecting()) return;
    if (attempts == 1) self->tellDelegate([&](CVNClientWebSocketDelegate& d) { d.socketDidClose(*self); });
    self->tryToReconnectAfterTimeInterval(kLongRetry);
  };
  retryTimer_ = socketQueue_->after(detail::seconds(seconds), std::move(retry));
}

// --- the opening handshake ----------------------------------------------------

void CVNClientWebSocket::socketDidConnectToHost(const std::shared_ptr<CVNSocket>&, const std::string&, std::uint16_t) {
  sendHandshake();
}

void CVNClientWebSocket::sendHandshake() {
  const bool literalIPv6 = host_.find(':') != std::string::npos;
  const std::string hostText = (literalIPv6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
  HTTPMessage request = HTTPMessage::request("GET", "/" + path_);
  // A 16-byte nonce from the system's generator; the answer must match it.
  platform::Data nonce(16);
  if (RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1) {
    socket_->disconnect();
    return;
  }
  const std::string key = platform::base64Encode(nonce);
  expectedAccept_ = webSocketAcceptKey(key).value_or(std::string());
  request.setHeaderField("Host", hostText);
  request.setHeaderField("Sec-WebSocket-Key", key);
  request.setHeaderField("Sec-WebSocket-Version", "13");
  request.setHeaderField("Upgrade", "websocket");
  request.setHeaderField("Connection", "Upgrade");
  request.setHeaderField("Cache-Control", "no-cache");
  request.setHeaderField("Origin", "file://");
  request.setHeaderField("Pragma", "no-cache");
  if (!protocol_.empty()) request.setHeaderField("Sec-WebSocket-Protocol", protocol_);
  if (authorization_) {
    request.setHeaderField("Authorization", *authorization_);
    authorization_.reset();  // one use
  }
  socket_->writeData(makeBytes(request.serialize()), -1, kHandshakeRequest);
}

void CVNClientWebSocket::socketDidWriteDataWithTag(const std::shared_ptr<CVNSocket>&, std::int64_t tag) {
  if (tag != kHandshakeRequest) return;
  responseMessage_ = HTTPMessage::emptyResponse();
  socket_->readDataToData(CVNSocket::CRLFData(), kHandshakeLineTimeout, kMaxHandshakeLine, kHandshakeLine);
}

void CVNClientWebSocket::socketDidReadData(const std::shared_ptr<CVNSocket>& socket, const CVNSocketData& data,
                                           std::int64_t tag) {
  if (tag != kHandshakeLine) {
    CVNWebSocket::socketDidReadData(socket, data, tag);
    return;
  }
  if (!responseMessage_) return;
  switch (responseMessage_->appendHeaderLine(data.view())) {
    case HTTPMessage::AppendResult::NeedMore:
      socket_->readDataToData(CVNSocket::CRLFData(), kHandshakeLineTimeout, kMaxHandshakeLine, kHandshakeLine);
      return;
    case HTTPMessage::AppendResult::Complete:
      handshakeResponseComplete();
      return;
    case HTTPMessage::AppendResult::Malformed:
    case HTTPMessage::AppendResult::TooLarge:
      log("CVNClientWebSocket: refused handshake reply from " + host_, 1);
      socket_->disconnect();
      return;
  }
}

void CVNClientWebSocket::handshakeResponseComplete() {
  const HTTPMessage& response = *responseMessage_;
  if (response.statusCode() == 101) {
    // An extension we did not offer, or an answer to another key, is not ours to speak.
    if (response.headerField("Sec-WebSocket-Extensions") ||
        response.headerField("Sec-WebSocket-Accept").value_or(std::string()) != expectedAccept_ ||
        expectedAccept_.empty()) {
      log("CVNClientWebSocket: handshake answer from " + host_ + " does not match the request", 1);
      socket_->disconnect();
      return;
    }
    startPingPongTimer();
    isConnected_.store(true);
    isConnecting_.store(false);
    attempts_.store(0);
    if (isReconnecting_.exchange(false)) {
      tellDelegate([&](CVNClientWebSocketDelegate& d) { d.socketDidAutomaticallyReconnect(*this); });
    } else {
      tellDelegate([&](CVNClientWebSocketDelegate& d) { d.socketDidOpen(*this); });
    }
    readNextFrame();
    return;
  }
  if (response.statusCode() == 401) prepareAuthorization();
  // The refused connection ends here; the retry carries any answer prepared.
  socket_->disconnect();
}

void CVNClientWebSocket::prepareAuthorization() {
  auto header = responseMessage_->headerField("WWW-Authenticate");
  if (!header) return;
  auto challenge = parseAuthenticationChallenge(*header);
  if (!challenge) return;
  if (lowerCased(challenge->scheme) == "basic") {
    // Basic only when asked for it, never unasked over cleartext.
    if (!user_.empty() || !password_.empty()) {
      const std::string credentials = user_ + ":" + password_;
      authorization_ = "Basic " + platform::base64Encode(reinterpret_cast<const std::uint8_t*>(credentials.data()),
                                                         credentials.size());
    }
    return;
  }
  if (lowerCased(challenge->scheme) != "digest") return;
  std::shared_ptr<const platform::Keychain> keychain;
  {
    std::lock_guard guard(mutex_);
    keychain = keychain_;
  }
  auto login = keychainLoginInfoForServer(host_, *keychain);
  if (!login || !login->count("user") || !login->count("password")) return;
  platform::Dictionary dictionary = *login;
  dictionary["uri"] = platform::Value("/" + path_);
  dictionary["method"] = platform::Value("GET");
  authorization_ = digestAuthenticationStringWithAuthenticationMessage(*responseMessage_, dictionary);
}

std::optional<std::string> CVNClientWebSocket::digestAuthenticationStringWithAuthenticationMessage(
    const HTTPMessage& response, const platform::Dictionary& dictionary) {
  auto uri = textOf(dictionary, "uri");
  auto user = textOf(dictionary, "user");
  auto password = textOf(dictionary, "password");
  auto method = textOf(dictionary, "method");
  if (!uri || !user || !password || !method) return std::nullopt;
  std::transform(method->begin(), method->end(), method->begin(), [](unsigned char c) { return std::toupper(c); });
  auto header = response.headerField("WWW-Authenticate");
  if (!header) return std::nullopt;
  auto challenge = parseAuthenticationChallenge(*header);
  if (!challenge || lowerCased(challenge->scheme) != "digest") return std::nullopt;
  const auto find = [&](const char* name) -> std::optional<std::string> {
    auto it = challenge->parameters.find(name);
    return it == challenge->parameters.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  auto realm = find("realm");
  auto nonce = find("nonce");
  auto qop = find("qop");
  if (!realm || !nonce || !qop) return std::nullopt;
  // A list of offers ("auth,auth-int") counts when it holds "auth".
  bool offersAuth = false;
  std::string offers = lowerCased(*qop);
  for (std::size_t start = 0; start <= offers.size();) {
    std::size_t comma = offers.find(',', start);
    std::string offer = offers.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    offer.erase(std::remove_if(offer.begin(), offer.end(), [](unsigned char c) { return std::isspace(c); }), offer.end());
    offersAuth = offersAuth || offer == "auth";
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (!offersAuth) return std::nullopt;
  std::string cnonce = foundation::GenerateUniqueID::generateUniqueID();
  cnonce.erase(std::remove(cnonce.begin(), cnonce.end(), '-'), cnonce.end());
  cnonce = lowerCased(cnonce);
  const std::string nc = "00000001";
  const std::string ha1 = md5Hex(*user + ":" + *realm + ":" + *password);
  const std::string ha2 = md5Hex(*method + ":" + *uri);
  const std::string answer = md5Hex(ha1 + ":" + *nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2);
  return "Digest username=\"" + *user + "\", realm=\"" + *realm + "\", nonce=\"" + *nonce + "\", uri=\"" + *uri +
         "\", response=\"" + answer + "\", cnonce=\"" + cnonce + "\", nc=" + nc + ", qop=\"auth\"";
}

std::optional<platform::Dictionary> CVNClientWebSocket::keychainLoginInfoForServer(const std::string& server,
                                                                                   const platform::Keychain& keychain) {
  if (server.empty()) return std::nullopt;
  auto item = keychain.itemForService(server);
  if (!item || !*item) return std::nullopt;
  platform::Dictionary login;
  if (!(*item)->account.empty()) login["user"] = platform::Value((*item)->account);
  if (!(*item)->password.empty()) login["password"] = platform::Value((*item)->password);
  return login;
}

// --- pings, messages, disconnection ------------------------------------------

void CVNClientWebSocket::startPingPongTimer() {
  if (pingTimerRunning_) return;
  pingTimerRunning_ = true;
  setReceivedPong(true);
  schedulePing(firstPingSeconds_);
}

void CVNClientWebSocket::schedulePing(double seconds) {
  std::weak_ptr<CVNWebSocket> weak = weak_from_this();
  pingTimer_ = socketQueue_->after(detail::seconds(seconds), [weak] {
    auto self = std::static_pointer_cast<CVNClientWebSocket>(weak.lock());
    if (!self || !self->pingTimerRunning_) return;
    self->schedulePing(self->pingIntervalSeconds_);
    if (!self->isConnected_.load()) return;
    // A pong cannot be read while reads are paused: no ping, and a fresh start after.
    if (self->isReadingPaused()) return self->setReceivedPong(true);
    if (!self->receivedPong()) {
      log("CVNClientWebSocket: no answer to the last ping from " + self->host_ + "; disconnecting", 1);
      self->socket_->disconnect();
      return;
    }
    self->setReceivedPong(false);
    self->sendData(std::span<const std::uint8_t>(), Ping);
  });
}

void CVNClientWebSocket::stopPingPongTimer() {
  pingTimerRunning_ = false;
  pingTimer_.cancel();
}

void CVNClientWebSocket::handleReceivedData(const CVNSocketData& payload) {
  // Parsing is the costly part of a message: skip it when nobody listens.
  if (!delegate()) return;
  auto event = jsonReader_.readObject(payload.view());
  if (!event) return;
  tellDelegate([&](CVNClientWebSocketDelegate& d) { d.socketDidReceiveEvent(*this, *event); });
}

void CVNClientWebSocket::socketDidDisconnect(const std::shared_ptr<CVNSocket>&, const std::optional<platform::Error>& error) {
  stopPingPongTimer();
  if (!isConnecting_.load()) {
    if (isConnected_.load() && automaticReconnection_.load()) {
      isConnected_.store(false);
      isReconnecting_.store(true);
      tryToReconnectAfterTimeInterval(0);
      tellDelegate([&](CVNClientWebSocketDelegate& d) { d.socketDidLoseConnection(*this); });
    } else {
      isConnected_.store(false);
      tellDelegate([&](CVNClientWebSocketDelegate& d) { d.socketDidClose(*this); });
    }
    return;
  }
  isConnecting_.store(false);
  if (responseMessage_ && responseMessage_->isHeaderComplete()) {
    if (responseMessage_->statusCode() == 400) {
      tellDelegate([&](CVNClientWebSocketDelegate& d) { d.socketDoesNotSupportProtocol(*this); });
    } else if (responseMessage_->statusCode() == 401) {
      tellDelegate([&](CVNClientWebSocketDelegate& d) { d.socketRequiresAuthentication(*this); });
    }
  }
  responseMessage_.reset();
  if (error && error->domain == CVNSocketErrorDomain && error->code == static_cast<int>(CVNSocketError::ReadTimeout)) {
    tellDelegate([&](CVNClientWebSocketDelegate& d) { d.socketDidTimeout(*this); });
  }
  if (isReconnecting_.load()) {
    tellDelegate([&](CVNClientWebSocketDelegate& d) { d.socketCouldNotReconnect(*this); });
  } else {
    tellDelegate([&](CVNClientWebSocketDelegate& d) { d.socketCouldNotOpen(*this); });
    attempts_.store(1);
    isReconnecting_.store(true);
  }
  tryToReconnectAfterTimeInterval(attempts_.load() < 2 ? kShortRetry : kLongRetry);
}

}  // namespace control
