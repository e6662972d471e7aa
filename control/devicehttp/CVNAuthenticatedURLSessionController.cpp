#include "control/devicehttp/CVNAuthenticatedURLSessionController.h"

#include "platform/Semaphore.h"

namespace control {

using platform::Error;
using platform::Result;
using platform::URLRequest;
using platform::URLResponse;

namespace {

std::optional<platform::URLCredential> credentialFor(const std::string& user, const std::string& password) {
  // Without both, a challenge is refused rather than answered half-filled.
  if (user.empty() || password.empty()) return std::nullopt;
  return platform::URLCredential{user, password};
}

Error controllerError(AuthenticatedURLSessionErrorCode code, std::string description) {
  return Error(kAuthenticatedURLSessionErrorDomain, code, std::move(description));
}

}  // namespace

CVNAuthenticatedURLSessionController::CVNAuthenticatedURLSessionController()
    : session_(std::make_unique<platform::URLSession>(queue_)) {}

CVNAuthenticatedURLSessionController::~CVNAuthenticatedURLSessionController() { session_.reset(); }

void CVNAuthenticatedURLSessionController::requestData(URLRequest request, const std::string& user,
                                                       const std::string& password, Handler handler) {
  // A shorter time-out of the caller's (a polling loop's) is kept.
  if (request.timeout <= platform::Clock::Duration::zero() || request.timeout > kRequestTimeout) {
    request.timeout = kRequestTimeout;
  }
  {
    std::lock_guard lock(openSessionsLock_);
    ++openSessions_;
  }
  session_->dataTask(std::move(request), credentialFor(user, password),
                     [this, handler = std::move(handler)](Result<URLResponse> result) {
                       if (handler) handler(std::move(result));
                       std::lock_guard lock(openSessionsLock_);
                       --openSessions_;
                     });
}

void CVNAuthenticatedURLSessionController::requestDataAtURL(const std::string& url, const std::string& user,
                                                            const std::string& password, Handler handler) {
  URLRequest request;
  request.url = url;
  requestData(std::move(request), user, password, std::move(handler));
}

void CVNAuthenticatedURLSessionController::putData(std::string data, const std::string& url,
                                                   const std::string& contentType, const std::string& user,
                                                   const std::string& password, Handler handler) {
  URLRequest request;
  request.method = "PUT";
  request.url = url;
  request.body = std::move(data);
  request.headers.emplace_back("Content-Type", contentType);
  requestData(std::move(request), user, password, std::move(handler));
}

void CVNAuthenticatedURLSessionController::deleteItemAtURL(const std::string& url, const std::string& user,
                                                           const std::string& password, Handler handler) {
  URLRequest request;
  request.method = "DELETE";
  request.url = url;
  requestData(std::move(request), user, password, std::move(handler));
}

Result<URLResponse> CVNAuthenticatedURLSessionController::waitFor(URLRequest request, const std::string& user,
                                                                  const std::string& password) {
  if (queue_.isCurrent()) {
    return controllerError(AuthenticatedURLSessionErrorCode::CalledOnDelegateQueue,
                           "A blocking request cannot wait on the queue that completes it.");
  }
  // Shared with the completion, which may outlive this call's wait.
  struct Outcome {
    platform::Semaphore done;
    Result<URLResponse> result = Error(platform::kURLSessionErrorDomain, platform::URLSessionErrorCode::TimedOut,
                                       "The request timed out.");
  };
  auto outcome = std::make_shared<Outcome>();
  requestData(std::move(request), user, password, [outcome](Result<URLResponse> result) {
    outcome->result = std::move(result);
    outcome->done.signal();
  });
  // The session ends every request at its time-out; the margin covers the completion's hop.
  if (!outcome->done.wait(kRequestTimeout + std::chrono::seconds(5))) {
    return Error(platform::kURLSessionErrorDomain, platform::URLSessionErrorCode::TimedOut,
                 "The request timed out.");
  }
  return std::move(outcome->result);
}

Result<URLResponse> CVNAuthenticatedURLSessionController::synchronouslyRequestData(URLRequest request,
                                                                                   const std::string& user,
                                                                                   const std::string& password) {
  return waitFor(std::move(request), user, password);
}

Result<URLResponse> CVNAuthenticatedURLSessionController::synchronouslyRequestDataAtURL(
    const std::string& url, const std::string& user, const std::string& password) {
  URLRequest request;
  request.url = url;
  return waitFor(std::move(request), user, password);
}

Result<URLResponse> CVNAuthenticatedURLSessionController::synchronouslyPutData(std::string data,
                                                                               const std::string& url,
                                                                               const std::string& contentType,
                                                                               const std::string& user,
                                                                               const std::string& password) {
  URLRequest request;
  request.method = "PUT";
  request.url = url;
  request.body = std::move(data);
  request.headers.emplace_back("Content-Type", contentType);
  return waitFor(std::move(request), user, password);
}

bool CVNAuthenticatedURLSessionController::synchronouslyDeleteItemAtURL(const std::string& url,
                                                                        const std::string& user,
                                                                        const std::string& password) {
  URLRequest request;
  request.method = "DELETE";
  request.url = url;
  const Result<URLResponse> result = waitFor(std::move(request), user, password);
  return result.ok() && result.value().statusCode == 200;
}

Result<std::shared_ptr<pugi::xml_document>> CVNAuthenticatedURLSessionController::parseXML(const std::string& data) {
  if (data.empty()) return controllerError(AuthenticatedURLSessionErrorCode::NoData, "The reply holds no data.");
  auto document = std::make_shared<pugi::xml_document>();
  const pugi::xml_parse_result parsed = document->load_buffer(data.data(), data.size(), pugi::parse_default);
  if (!parsed) {
    return controllerError(AuthenticatedURLSessionErrorCode::XMLParseFailed,
                           std::string("The reply is not XML: ") + parsed.description());
  }
  return document;
}

Result<std::shared_ptr<pugi::xml_document>> CVNAuthenticatedURLSessionController::XMLDocumentAtURL(
    const std::string& url, const std::string& user, const std::string& password) {
  Result<URLResponse> reply = synchronouslyRequestDataAtURL(url, user, password);
  if (!reply.ok()) return reply.error();
  return parseXML(reply.value().body);
}

void CVNAuthenticatedURLSessionController::requestXMLDocumentAtURL(const std::string& url, const std::string& user,
                                                                   const std::string& password, XMLHandler handler) {
  requestDataAtURL(url, user, password, [handler = std::move(handler)](Result<URLResponse> reply) {
    if (!reply.ok()) {
      handler(reply.error());
      return;
    }
    handler(parseXML(reply.value().body));
  });
}

std::size_t CVNAuthenticatedURLSessionController::openSessionCount() const {
  std::lock_guard lock(openSessionsLock_);
  return openSessions_ + webSockets_.count();
}

}  // namespace control
