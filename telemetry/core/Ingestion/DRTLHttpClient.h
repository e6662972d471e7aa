#pragma once
// DRTLHttpClient: sends the telemetry requests with retries. Statuses 0, 408,
// 429 and 500 and above are retried after each of the call's retry intervals
// (a random delay in [h, 2h), h half the interval) or after the server's
// "x-dr-retry-after-ms" (0 to 1,200,000 ms); once the retries are used up the
// client pauses until a network change or a 1200 s resume timer. Any other
// failure status reaches the handler, then the client disables itself and
// cancels its pending calls (code 2); later sends fail at once (code 3).
// A lost network (reachability notification) pauses it, a found one resumes.
//
// Owned through a shared_ptr (create()). Every operation is safe from any
// thread and holds the client's (recursive) lock. Handlers run on the
// session's thread, on the caller's thread for the disabled error, and on the
// disabling thread for cancellations.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/Timer.h"
#include "telemetry/core/Ingestion/DRTLHttpCall.h"

namespace telemetry::core {

class DRTLCurlSession;
class DRTL_Reachability;

inline const std::vector<double> kDRTLDefaultRetryIntervals{10, 300, 1200};
inline constexpr std::int64_t kDRTLMaxRetryAfterMs = 1200000;
inline constexpr std::int64_t kDRTLResumeAfterUsedUpRetriesSeconds = 1200;
// Connections per host when the creator names no maximum.
inline constexpr long kDRTLDefaultMaxConnectionsPerHost = 4;

class DRTLHttpClientDelegate {
 public:
  virtual ~DRTLHttpClientDelegate() = default;
  virtual void willSendHTTPRequestToURL(const std::string& /*url*/, const DRTLHttpHeaders& /*headers*/) {}
};

class DRTLHttpClientProtocol {
 public:
  virtual ~DRTLHttpClientProtocol() = default;
  virtual void sendAsync(const std::string& url, const std::string& method, const DRTLHttpHeaders& headers,
                         const std::optional<std::string>& data, const std::vector<double>& retryIntervals,
                         bool compressionEnabled, DRTLHttpRequestCompletionHandler handler) = 0;
  void sendAsync(const std::string& url, const std::string& method, const DRTLHttpHeaders& headers,
                 const std::optional<std::string>& data, DRTLHttpRequestCompletionHandler handler) {
    sendAsync(url, method, headers, data, kDRTLDefaultRetryIntervals, true, std::move(handler));
  }
  virtual void pause() = 0;
  virtual void resume() = 0;
  virtual void setEnabled(bool enabled) = 0;
  virtual void setEnabled(bool enabled, bool deleteData) = 0;
  virtual std::shared_ptr<DRTLHttpClientDelegate> delegate() const = 0;
  virtual void setDelegate(std::weak_ptr<DRTLHttpClientDelegate> delegate) = 0;
};

class DRTLHttpClient : public DRTLHttpClientProtocol, public std::enable_shared_from_this<DRTLHttpClient> {
 public:
  // The default connection limit and the internet reachability object, as the SDK uses it.
  static std::shared_ptr<DRTLHttpClient> create();
  // A null reachability watches nothing (tests drive networkStatusChanged).
  static std::shared_ptr<DRTLHttpClient> create(std::optional<long> maxHttpConnectionsPerHost,
                                                std::shared_ptr<DRTL_Reachability> reachability,
                                                DRTLRandomSource random = defaultRandomSource());
  ~DRTLHttpClient() override;

  using DRTLHttpClientProtocol::sendAsync;
  void sendAsync(const std::string& url, const std::string& method, const DRTLHttpHeaders& headers,
                 const std::optional<std::string>& data, const std::vector<double>& retryIntervals,
                 bool compressionEnabled, DRTLHttpRequestCompletionHandler handler) override;
  void pause() override;
  void resume() override;
  void setEnabled(bool enabled) override;
  void setEnabled(bool enabled, bool deleteData) override;
  std::shared_ptr<DRTLHttpClientDelegate> delegate() const override;
  void setDelegate(std::weak_ptr<DRTLHttpClientDelegate> delegate) override;

  bool isPaused() const;
  bool isEnabled() const;
  std::size_t pendingCallCount() const;

  // Reads the reachability's status and applies it.
  void networkStateChanged();
  // 0 (not reachable) pauses, anything else resumes.
  void networkStatusChanged(int status);

  void sendCallAsync(const std::shared_ptr<DRTLHttpCall>& call);

 private:
  DRTLHttpClient(std::optional<long> maxHttpConnectionsPerHost, std::shared_ptr<DRTL_Reachability> reachability,
                 DRTLRandomSource random);
  void startObserving();
  void sendCall(const std::shared_ptr<DRTLHttpCall>& call);  // needs mutex_, not paused
  void requestCompleted(const std::shared_ptr<DRTLHttpCall>& call, const std::optional<std::string>& data,
                        const std::shared_ptr<DRTLHttpResponse>& response,
                        const std::optional<platform::Error>& error);
  void pauseUntilResumeTimer();  // needs mutex_

  mutable std::recursive_mutex mutex_;
  bool paused_ = false;                                       // guarded by mutex_
  bool enabled_ = true;                                       // guarded by mutex_
  std::weak_ptr<DRTLHttpClientDelegate> delegate_;            // guarded by mutex_
  std::set<std::shared_ptr<DRTLHttpCall>> pendingCalls_;      // guarded by mutex_
  std::unique_ptr<platform::Timer> resumeTimer_;              // guarded by mutex_
  const std::shared_ptr<DRTL_Reachability> reachability_;
  const DRTLRandomSource random_;
  std::unique_ptr<DRTLCurlSession> session_;
  platform::ObserverToken reachabilityObserver_;
};

// "x-dr-retry-after-ms" read as a whole number from 0 to 1,200,000; none otherwise.
std::optional<std::uint32_t> parseRetryAfterMs(const std::optional<std::string>& value);

}  // namespace telemetry::core
