#pragma once
// DRTLCurlSession: the transfers of one HTTP client on libcurl's multi
// interface, driven by one thread of its own. TLS peers and host names are
// verified; at most `maxConnectionsPerHost` connections per host; connecting
// may take 30 s and a transfer may go 60 s without progress. Response bodies
// are read up to kDRTLMaxResponseBodyBytes. No redirects, no cookies.
//
// start() and cancelAll() are safe from any thread. Completions run on the
// session's thread; a cancelled transfer completes with a cancelled error.
// Destroying the session cancels what is left without completing it; from one
// of its own completions too, where the thread is joined once that returns.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "telemetry/core/Ingestion/DRTLHttpUtil.h"

namespace platform {
class Thread;
}

namespace telemetry::core {

inline constexpr std::size_t kDRTLMaxResponseBodyBytes = 1 << 20;

struct DRTLHttpRequest {
  std::string url;
  std::string method;
  DRTLHttpHeaders headers;
  std::optional<std::string> body;
};

class DRTLCurlSession {
 public:
  using Completion = std::function<void(const std::optional<std::string>& data,
                                        const std::shared_ptr<DRTLHttpResponse>& response,
                                        const std::optional<platform::Error>& error)>;

  explicit DRTLCurlSession(long maxConnectionsPerHost);
  ~DRTLCurlSession();
  DRTLCurlSession(const DRTLCurlSession&) = delete;
  DRTLCurlSession& operator=(const DRTLCurlSession&) = delete;

  void start(DRTLHttpRequest request, Completion completion);
  // Ends every transfer started so far; each completes with a cancelled error.
  void cancelAll();

  struct State;

 private:
  std::shared_ptr<State> state_;
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace telemetry::core
