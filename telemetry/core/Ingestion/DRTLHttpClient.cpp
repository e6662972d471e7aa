#include "telemetry/core/Ingestion/DRTLHttpClient.h"

#include <charconv>

#include "platform/DispatchQueue.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTL_Reachability.h"
#include "telemetry/core/Ingestion/DRTLCurlSession.h"

namespace telemetry::core {

std::optional<std::uint32_t> parseRetryAfterMs(const std::optional<std::string>& value) {
  if (!value || value->empty()) return std::nullopt;
  std::int64_t number = -1;
  const char* end = value->data() + value->size();
  const auto [stop, error] = std::from_chars(value->data(), end, number);
  if (error != std::errc() || stop != end || number < 0 || number > kDRTLMaxRetryAfterMs) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

std::shared_ptr<DRTLHttpClient> DRTLHttpClient::create() {
  return create(std::nullopt, DRTL_Reachability::reachabilityForInternetConnection());
}

std::shared_ptr<DRTLHttpClient> DRTLHttpClient::create(std::optional<long> maxHttpConnectionsPerHost,
                                                       std::shared_ptr<DRTL_Reachability> reachability,
                                                       DRTLRandomSource random) {
  std::shared_ptr<DRTLHttpClient> client(
      new DRTLHttpClient(maxHttpConnectionsPerHost, std::move(reachability), std::move(random)));
  client->startObserving();
  return client;
}

DRTLHttpClient::DRTLHttpClient(std::optional<long> maxHttpConnectionsPerHost,
                               std::shared_ptr<DRTL_Reachability> reachability, DRTLRandomSource random)
    : reachability_(std::move(reachability)),
      random_(random ? std::move(random) : defaultRandomSource()),
      session_(std::make_unique<DRTLCurlSession>(maxHttpConnectionsPerHost.value_or(kDRTLDefaultMaxConnectionsPerHost))) {}

void DRTLHttpClient::startObserving() {
  if (!reachability_) return;
  std::weak_ptr<DRTLHttpClient> weak = weak_from_this();
  reachabilityObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      kDRNetworkReachabilityChangedNotification, nullptr, [weak](const platform::Notification&) {
        if (auto client = weak.lock()) client->networkStateChanged();
      });
  reachability_->startNotifier();
}

DRTLHttpClient::~DRTLHttpClient() {
  if (reachability_) reachability_->stopNotifier();
  reachabilityObserver_.reset();
  {
    std::lock_guard lock(mutex_);
    if (resumeTimer_) resumeTimer_->invalidate();
    for (const auto& call : pendingCalls_) call->resetRetry();
  }
  session_.reset();  // joins the session's thread; unfinished transfers are dropped
}

void DRTLHttpClient::sendAsync(const std::string& url, const std::string& method, const DRTLHttpHeaders& headers,
                               const std::optional<std::string>& data, const std::vector<double>& retryIntervals,
                               bool compressionEnabled, DRTLHttpRequestCompletionHandler handler) {
  std::lock_guard lock(mutex_);
  if (!enabled_) {
    if (handler) handler(std::nullopt, nullptr, platform::Error(DRTLErrorDomain, DRTLDisabledErrorCode, kDRTLDisabledErrorDesc));
    return;
  }
  sendCallAsync(std::make_shared<DRTLHttpCall>(url, method, headers, data, retryIntervals, compressionEnabled,
                                               std::move(handler)));
}

void DRTLHttpClient::sendCallAsync(const std::shared_ptr<DRTLHttpCall>& call) {
  std::lock_guard lock(mutex_);
  pendingCalls_.insert(call);
  if (!paused_) sendCall(call);
}

void DRTLHttpClient::sendCall(const std::shared_ptr<DRTLHttpCall>& call) {
  if (auto delegate = delegate_.lock()) delegate->willSendHTTPRequestToURL(call->url, call->headers);
  call->inProgress = true;
  std::weak_ptr<DRTLHttpClient> weak = weak_from_this();
  session_->start({call->url, call->method, call->headers, call->data},
                  [weak, call](const std::optional<std::string>& data, const std::shared_ptr<DRTLHttpResponse>& response,
                               const std::optional<platform::Error>& error) {
                    if (auto client = weak.lock()) client->requestCompleted(call, data, response, error);
                  });
}

void DRTLHttpClient::requestCompleted(const std::shared_ptr<DRTLHttpCall>& call,
                                      const std::optional<std::string>& data,
                                      const std::shared_ptr<DRTLHttpResponse>& response,
                                      const std::optional<platform::Error>& error) {
  std::unique_lock lock(mutex_);
  call->inProgress = false;
  if (!pendingCalls_.contains(call)) {
    DRTLLogDebug(std::string("HTTP call was canceled; do not process further."));
    return;
  }
  if (error) {
    const bool noInternet = DRTLHttpUtil::isNoInternetConnectionError(*error);
    if (noInternet || DRTLHttpUtil::isSSLConnectionError(*error)) {
      call->resetRetry();
      DRTLLogInfo(std::string("HTTP call failed with error: ") +
                  (noInternet ? "Internet connection is down." : "Could not establish secure connection."));
      // The call waits for the next resume; the resume timer makes sure one comes
      // even when no network change is ever reported.
      pauseUntilResumeTimer();
      return;
    }
    DRTLLogError("HTTP request error with code: " + std::to_string(error->code) + ", domain: " + error->domain +
                 ", description: " + error->localizedDescription);
    pendingCalls_.erase(call);
    lock.unlock();
    if (call->completionHandler) call->completionHandler(data, nullptr, error);
    return;
  }
  const std::int64_t status = response ? response->statusCode : 0;
  if (DRTLHttpUtil::isRecoverableError(status)) {
    if (!call->hasReachedMaxRetries()) {
      const auto retryAfter =
          parseRetryAfterMs(response ? response->valueForHeader("x-dr-retry-after-ms") : std::nullopt);
      std::weak_ptr<DRTLHttpClient> weak = weak_from_this();
      call->startRetryTimer(
          status, retryAfter,
          [weak, call] {
            if (auto client = weak.lock()) client->sendCallAsync(call);
          },
          random_);
      return;
    }
    pauseUntilResumeTimer();
  } else if (!DRTLHttpUtil::isSuccessStatusCode(status)) {
    pendingCalls_.erase(call);
    if (call->completionHandler) call->completionHandler(data, response, std::nullopt);
    setEnabled(false, true);
    return;
  }
  pendingCalls_.erase(call);
  lock.unlock();
  if (call->completionHandler) call->completionHandler(data, response, error);
}

void DRTLHttpClient::pauseUntilResumeTimer() {
  pause();
  std::weak_ptr<DRTLHttpClient> weak = weak_from_this();
  if (resumeTimer_) resumeTimer_->invalidate();
  resumeTimer_ = platform::Timer::scheduled(platform::DispatchQueue::global(),
                                            std::chrono::seconds(kDRTLResumeAfterUsedUpRetriesSeconds),
                                            platform::Timer::Mode::OneShot, [weak] {
                                              if (auto client = weak.lock()) client->resume();
                                            });
}

void DRTLHttpClient::pause() {
  std::lock_guard lock(mutex_);
  if (paused_) return;
  DRTLLogInfo(std::string("Pause HTTP client."));
  paused_ = true;
  for (const auto& call : pendingCalls_) call->resetRetry();
}

void DRTLHttpClient::resume() {
  std::lock_guard lock(mutex_);
  if (!paused_ || !enabled_) return;
  DRTLLogInfo(std::string("Resume HTTP client."));
  paused_ = false;
  if (resumeTimer_) resumeTimer_->invalidate();
  resumeTimer_.reset();
  const std::set<std::shared_ptr<DRTLHttpCall>> calls = pendingCalls_;
  for (const auto& call : calls) {
    if (!call->inProgress) sendCallAsync(call);
  }
}

void DRTLHttpClient::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

void DRTLHttpClient::setEnabled(bool enabled, bool deleteData) {
  std::lock_guard lock(mutex_);
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  if (enabled) {
    if (reachability_) reachability_->startNotifier();
    resume();
    return;
  }
  if (reachability_) reachability_->stopNotifier();
  pause();
  if (resumeTimer_) resumeTimer_->invalidate();
  resumeTimer_.reset();
  if (!deleteData) return;
  session_->cancelAll();
  const std::set<std::shared_ptr<DRTLHttpCall>> calls = std::move(pendingCalls_);
  pendingCalls_.clear();
  for (const auto& call : calls) {
    if (call->completionHandler) {
      call->completionHandler(std::nullopt, nullptr,
                              platform::Error(DRTLErrorDomain, DRTLCanceledErrorCode, kDRTLCanceledErrorDesc));
    }
  }
}

std::shared_ptr<DRTLHttpClientDelegate> DRTLHttpClient::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void DRTLHttpClient::setDelegate(std::weak_ptr<DRTLHttpClientDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

bool DRTLHttpClient::isPaused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}

bool DRTLHttpClient::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

std::size_t DRTLHttpClient::pendingCallCount() const {
  std::lock_guard lock(mutex_);
  return pendingCalls_.size();
}

void DRTLHttpClient::networkStateChanged() {
  networkStatusChanged(reachability_ ? reachability_->currentReachabilityStatus() : DRTLReachableViaWiFi);
}

void DRTLHttpClient::networkStatusChanged(int status) {
  if (status == DRTLNotReachable) {
    DRTLLogInfo(std::string("Internet connection is down."));
    pause();
  } else {
    DRTLLogInfo(std::string("Internet connection is up."));
    resume();
  }
}

}  // namespace telemetry::core
