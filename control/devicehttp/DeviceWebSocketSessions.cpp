#include "control/devicehttp/DeviceWebSocketSessions.h"

#include <functional>

#include <nlohmann/json.hpp>

#include "control/websocket/CVNClientWebSocket.h"
#include "foundation/CVNLogController.h"

namespace control {

namespace {

struct WebSocketURL {
  std::string host;
  std::uint16_t port = 80;
  std::string path;  // without the leading "/"
};

std::optional<WebSocketURL> parseWebSocketURL(const std::string& url) {
  constexpr std::string_view scheme = "ws://";
  if (url.rfind(scheme, 0) != 0) return std::nullopt;
  const std::string rest = url.substr(scheme.size());
  const std::size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  WebSocketURL parsed;
  parsed.path = slash == std::string::npos ? "" : rest.substr(slash + 1);
  const std::size_t colon = authority.rfind(':');
  if (colon != std::string::npos) {
    const std::string port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    const unsigned long number = std::stoul(port);
    if (number == 0 || number > 65535) return std::nullopt;
    parsed.port = static_cast<std::uint16_t>(number);
    authority.resize(colon);
  }
  if (authority.empty()) return std::nullopt;
  parsed.host = authority;
  return parsed;
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

std::string answerOr(std::optional<std::string> answer, const char* fillIn) {
  return answer ? *answer : fillIn;
}

// A session's client: every non-empty text message goes on as sent (JSON or
// not), and pings start with the connection and repeat every 5 s.
class DeviceWebSocketClient final : public CVNClientWebSocket {
 public:
  using MessageHandler = std::function<void(const std::string&)>;
  static std::shared_ptr<DeviceWebSocketClient> create(const WebSocketURL& url, const std::string& protocols,
                                                       const std::string& user, const std::string& password,
                                                       MessageHandler onMessage) {
    return std::shared_ptr<DeviceWebSocketClient>(
        new DeviceWebSocketClient(url, protocols, user, password, std::move(onMessage)));
  }
  void handleReceivedData(const CVNSocketData& payload) override { onMessage_(std::string(payload.view())); }

 private:
  DeviceWebSocketClient(const WebSocketURL& url, const std::string& protocols, const std::string& user,
                        const std::string& password, MessageHandler onMessage)
      : CVNClientWebSocket(url.host, url.port, url.path, protocols, user, password), onMessage_(std::move(onMessage)) {
    setPingIntervals(0, 5.0);
  }
  const MessageHandler onMessage_;  // socket queue
};

}  // namespace

// Forwards one client's events to the sessions object until that goes away.
class DeviceWebSocketSessions::Session final : public CVNClientWebSocketDelegate {
 public:
  Session(DeviceWebSocketSessions* owner, std::uint64_t id, std::string description)
      : owner_(owner), id_(id), description_(std::move(description)) {}

  void detach() {
    std::lock_guard guard(ownerLock_);
    owner_ = nullptr;
  }
  std::shared_ptr<CVNClientWebSocket> client;

  // Under the sessions' lock.
  void setProcessingMessages(bool processing) {
    if (processing == isProcessingMessages_) return;
    isProcessingMessages_ = processing;
    if (processing) {
      client->resumeReading();
    } else {
      client->pauseReading();
    }
  }
  bool isProcessingMessages_ = true;  // guarded by the sessions' lock

  void socketDidOpen(CVNClientWebSocket&) override {
    withOwner([&](DeviceWebSocketSessions& owner, CVNAuthenticatedURLSessionController_Delegate* delegate) {
      owner.logSimpleMessage("WS Connection did OPEN (" + description_ + ")");
      if (delegate) delegate->webSocketSessionDidOpen(id_);
    });
  }
  void socketDidClose(CVNClientWebSocket&) override {
    withOwner([&](DeviceWebSocketSessions& owner, CVNAuthenticatedURLSessionController_Delegate*) {
      owner.sessionEnded(id_, 1000, nullptr, description_);
    });
  }
  void socketDidLoseConnection(CVNClientWebSocket&) override { completed("The connection was lost."); }
  void socketCouldNotOpen(CVNClientWebSocket&) override { completed("The connection could not be opened."); }
  void socketDidTimeout(CVNClientWebSocket&) override { completed("The connection timed out."); }
  void socketRequiresAuthentication(CVNClientWebSocket&) override { completed("The device refused the login."); }
  // Messages come through the client's message handler instead.
  void socketDidReceiveEvent(CVNClientWebSocket&, const nlohmann::json&) override {}
  void messageReceived(const std::string& text) {
    withOwner([&](DeviceWebSocketSessions& owner, CVNAuthenticatedURLSessionController_Delegate* delegate) {
      if (shouldLogMessage(text)) owner.logSimpleMessage("--> " + description_ + "\n" + text);
      if (delegate && !text.empty()) delegate->webSocketSessionDidReceiveStringMessage(id_, text);
    });
  }

 private:
  void completed(const char* how) {
    withOwner([&](DeviceWebSocketSessions& owner, CVNAuthenticatedURLSessionController_Delegate*) {
      owner.sessionEnded(id_, 1006, how, description_);
    });
  }
  template <typename Call>
  void withOwner(Call&& call) {
    // Held for the call, so the owner's destruction waits for it.
    std::lock_guard guard(ownerLock_);
    if (!owner_) return;
    CVNAuthenticatedURLSessionController_Delegate* delegate;
    {
      std::lock_guard ownerGuard(owner_->lock_);
      delegate = owner_->delegate_;
    }
    call(*owner_, delegate);
  }

  std::mutex ownerLock_;
  DeviceWebSocketSessions* owner_;  // guarded by ownerLock_
  const std::uint64_t id_;
  const std::string description_;  // path:protocols
};

DeviceWebSocketSessions::~DeviceWebSocketSessions() {
  std::map<std::uint64_t, std::shared_ptr<Session>> sessions;
  {
    std::lock_guard guard(lock_);
    sessions.swap(sessions_);
    delegate_ = nullptr;
  }
  for (auto& [id, session] : sessions) {
    session->detach();
    session->client->disconnect();
  }
}

void DeviceWebSocketSessions::setDelegate(CVNAuthenticatedURLSessionController_Delegate* delegate) {
  std::lock_guard guard(lock_);
  delegate_ = delegate;
}

std::optional<std::uint64_t> DeviceWebSocketSessions::open(const std::string& url,
                                                          const std::vector<std::string>& protocols,
                                                          bool startProcessingMessages, const std::string& user,
                                                          const std::string& password) {
  const std::optional<WebSocketURL> parsed = parseWebSocketURL(url);
  if (!parsed) return std::nullopt;
  std::uint64_t id;
  {
    std::lock_guard guard(lock_);
    id = nextId_++;
  }
  auto session = std::make_shared<Session>(this, id, parsed->path + ":" + joined(protocols, "|"));
  const std::weak_ptr<Session> weakSession = session;
  session->client = DeviceWebSocketClient::create(*parsed, joined(protocols, ", "), user, password,
                                                  [weakSession](const std::string& text) {
                                                    if (auto alive = weakSession.lock()) alive->messageReceived(text);
                                                  });
  session->client->setAutomaticReconnection(false);
  session->client->setDelegate(session);
  session->setProcessingMessages(startProcessingMessages);  // not shared yet
  {
    std::lock_guard guard(lock_);
    sessions_[id] = session;
  }
  if (!session->client->connect()) {
    std::lock_guard guard(lock_);
    sessions_.erase(id);
    session->detach();
    return std::nullopt;
  }
  return id;
}

void DeviceWebSocketSessions::closeAll() {
  std::vector<std::shared_ptr<Session>> sessions;
  {
    std::lock_guard guard(lock_);
    for (auto& [id, session] : sessions_) sessions.push_back(session);
  }
  for (auto& session : sessions) session->client->disconnect();
}

void DeviceWebSocketSessions::setProcessingMessages(bool processing) {
  std::lock_guard guard(lock_);
  for (auto& [id, session] : sessions_) session->setProcessingMessages(processing);
}

std::size_t DeviceWebSocketSessions::count() const {
  std::lock_guard guard(lock_);
  return sessions_.size();
}

void DeviceWebSocketSessions::sessionEnded(std::uint64_t id, std::int64_t closeCode, const char* how,
                                           const std::string& description) {
  std::shared_ptr<Session> session;
  CVNAuthenticatedURLSessionController_Delegate* delegate;
  {
    std::lock_guard guard(lock_);
    const auto found = sessions_.find(id);
    if (found == sessions_.end()) return;  // ended before
    session = found->second;
    sessions_.erase(found);
    delegate = delegate_;
  }
  if (how) {
    logSimpleMessage(std::string("WS Connection did COMPLETE with error: ") + how + " (" + description + ")");
    if (delegate) delegate->webSocketSessionDidCompleteWithError(id, platform::Error("CVNWebSocketErrorDomain", 1, how));
  } else {
    logSimpleMessage("WS Connection did CLOSE with code: " + std::to_string(closeCode) + " (" + description + ")");
    if (delegate) delegate->webSocketSessionDidClose(id, closeCode);
  }
}

std::string DeviceWebSocketSessions::logFileName(CVNAuthenticatedURLSessionController_Delegate* delegate) {
  const auto ask = [&](auto question) -> std::optional<std::string> {
    return delegate ? question(*delegate) : std::nullopt;
  };
  return answerOr(ask([](auto& d) { return d.serverName(); }), "<unknown server>") + "_" +
         answerOr(ask([](auto& d) { return d.instanceName(); }), "<unknown instance>") + "_" +
         answerOr(ask([](auto& d) { return d.hostNameAndPortNumberUsingSeparator("-"); }), "<unknown ip and port>") +
         "_C-WS";
}

bool DeviceWebSocketSessions::shouldLogMessage(const std::string& text) {
  if (text.empty()) return false;
  const nlohmann::json message = nlohmann::json::parse(text, nullptr, false);
  return !(message.is_object() && message.value("path", nlohmann::json()) == "playback" &&
           message.value("event", nlohmann::json()) == "playback_timing_changed");
}

void DeviceWebSocketSessions::logSimpleMessage(const std::string& text) {
  CVNAuthenticatedURLSessionController_Delegate* delegate;
  {
    std::lock_guard guard(lock_);
    delegate = delegate_;
  }
  foundation::CVNLogController::sharedLogController().logSimpleMessage(text, logFileName(delegate));
}

}  // namespace control
