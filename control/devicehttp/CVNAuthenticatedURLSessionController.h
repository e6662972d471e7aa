#pragma once
// CVNAuthenticatedURLSessionController: HTTP requests to devices that want a
// Basic or Digest login given per request, their XML replies, and the
// device logins kept in the keychain.
//
// Every request has a time-out of 10 s at most; completions run on the controller's own
// serial queue. The blocking forms wait at most the time-out (plus a margin)
// and refuse to run on that queue, where they could only dead-lock.
// Destruction cancels the requests still open (their completions report
// cancellation). Any thread.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <pugixml.hpp>

#include "control/devicehttp/DeviceWebSocketSessions.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"
#include "platform/Keychain.h"
#include "platform/network/URLSession.h"

namespace control {

inline constexpr const char* kAuthenticatedURLSessionErrorDomain = "AuthenticatedURLSessionErrorDomain";
enum class AuthenticatedURLSessionErrorCode {
  CalledOnDelegateQueue = 1,
  NoData = 2,
  XMLParseFailed = 3,
};

class CVNAuthenticatedURLSessionController {
 public:
  using Handler = std::function<void(platform::Result<platform::URLResponse>)>;
  using XMLHandler = std::function<void(platform::Result<std::shared_ptr<pugi::xml_document>>)>;
  static constexpr platform::Clock::Duration kRequestTimeout = std::chrono::seconds(10);
  static constexpr const char* kDelegateQueueLabel = "com.dirarovazovo.AuthenticatedURLSession";

  CVNAuthenticatedURLSessionController();
  ~CVNAuthenticatedURLSessionController();
  CVNAuthenticatedURLSessionController(const CVNAuthenticatedURLSessionController&) = delete;
  CVNAuthenticatedURLSessionController& operator=(const CVNAuthenticatedURLSessionController&) = delete;

  // The request is sent as given except for its time-out, which is at most 10 s.
  void requestData(platform::URLRequest request, const std::string& user, const std::string& password,
                   Handler handler);
  void requestDataAtURL(const std::string& url, const std::string& user, const std::string& password,
                        Handler handler);
  void putData(std::string data, const std::string& url, const std::string& contentType, const std::string& user,
               const std::string& password, Handler handler);
  void deleteItemAtURL(const std::string& url, const std::string& user, const std::string& password,
                       Handler handler);

  platform::Result<platform::URLResponse> synchronouslyRequestData(platform::URLRequest request,
                                                                   const std::string& user,
                                                                   const std::string& password);
  platform::Result<platform::URLResponse> synchronouslyRequestDataAtURL(const std::string& url,
                                                                        const std::string& user,
                                                                        const std::string& password);
  platform::Result<platform::URLResponse> synchronouslyPutData(std::string data, const std::string& url,
                                                               const std::string& contentType,
                                                               const std::string& user,
                                                               const std::string& password);
  // True exactly for an HTTP answer with status 200.
  bool synchronouslyDeleteItemAtURL(const std::string& url, const std::string& user, const std::string& password);

  // A document parsed from the reply; an error without data or when it does not parse.
  platform::Result<std::shared_ptr<pugi::xml_document>> XMLDocumentAtURL(const std::string& url,
                                                                         const std::string& user,
                                                                         const std::string& password);
  void requestXMLDocumentAtURL(const std::string& url, const std::string& user, const std::string& password,
                               XMLHandler handler);

  // Requests started and not yet completed, and WebSocket sessions open.
  std::size_t openSessionCount() const;

  // WebSocket sessions to devices that push JSON events ("ws://" URLs); their
  // events go to the delegate, their messages to the message log.
  void setDelegate(CVNAuthenticatedURLSessionController_Delegate* delegate) { webSockets_.setDelegate(delegate); }
  std::optional<std::uint64_t> openWebSocketAtURL(const std::string& url, const std::vector<std::string>& protocols,
                                                  bool startProcessingMessages = true, const std::string& user = {},
                                                  const std::string& password = {}) {
    return webSockets_.open(url, protocols, startProcessingMessages, user, password);
  }
  // On every open session; see DeviceWebSocketSessions.
  void startProcessingMessages() { webSockets_.startProcessingMessages(); }
  void suspendProcessingMessages() { webSockets_.suspendProcessingMessages(); }
  void resumeProcessingMessages() { webSockets_.resumeProcessingMessages(); }
  void closeWebSocketSessions() { webSockets_.closeAll(); }
  void logSimpleMessage(const std::string& text) { webSockets_.logSimpleMessage(text); }

  static std::string stringFromWebSocketCloseCode(std::int64_t code);

  // Logins by server (the keychain service) and account.
  static platform::Status addOrUpdateKeychainPassword(platform::Keychain& keychain, const std::string& password,
                                                      const std::string& login, const std::string& server,
                                                      const std::string& label);
  static platform::Status deleteKeychainPassword(platform::Keychain& keychain, const std::string& login,
                                                 const std::string& server);
  // "user" and "password" (each only when not empty); nullopt when there is
  // no server, no such login or the store cannot be read.
  static std::optional<std::map<std::string, std::string>> keychainLoginInfoForServer(
      const platform::Keychain& keychain, const std::string& server, const std::string& userName = {});

  // Parses a reply body (exposed for the switcher's feed and the tests).
  static platform::Result<std::shared_ptr<pugi::xml_document>> parseXML(const std::string& data);

 private:
  platform::Result<platform::URLResponse> waitFor(platform::URLRequest request, const std::string& user,
                                                  const std::string& password);

  platform::SerialQueue queue_{kDelegateQueueLabel};
  mutable std::mutex openSessionsLock_;
  std::size_t openSessions_ = 0;
  std::unique_ptr<platform::URLSession> session_;  // destroyed (and cancelled) before the queue
  DeviceWebSocketSessions webSockets_;             // last: closed first
};

}  // namespace control
