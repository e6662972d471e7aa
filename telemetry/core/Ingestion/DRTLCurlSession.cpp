#include "telemetry/core/Ingestion/DRTLCurlSession.h"

#include <curl/curl.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/Thread.h"

namespace telemetry::core {
namespace {

struct Transfer {
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  DRTLCurlSession::Completion completion;
  std::string body;
  bool bodyTooLarge = false;
  std::shared_ptr<DRTLHttpResponse> response = std::make_shared<DRTLHttpResponse>();

  ~Transfer() {
    if (easy) curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
  }
};

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::size_t bytes = size * count;
  if (transfer->body.size() + bytes > kDRTLMaxResponseBodyBytes) {
    transfer->bodyTooLarge = true;
    return 0;  // ends the transfer with a write error
  }
  transfer->body.append(data, bytes);
  return bytes;
}

std::size_t writeHeader(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  std::string line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.rfind("HTTP/", 0) == 0) {
    transfer->response->headers.clear();  // a new response (after an interim one)
  } else if (const std::size_t colon = line.find(':'); colon != std::string::npos && colon > 0) {
    std::string value = line.substr(colon + 1);
    const std::size_t first = value.find_first_not_of(" \t");
    transfer->response->headers.emplace_back(line.substr(0, colon),
                                             first == std::string::npos ? std::string() : value.substr(first));
  }
  return size * count;
}

platform::Error transportError(CURLcode code, long osErrno, bool bodyTooLarge) {
  platform::Dictionary info;
  info["curlCode"] = static_cast<std::int64_t>(code);
  const std::string reason = curl_easy_strerror(code);
  auto error = [&](DRTLURLErrorCode urlCode, const std::string& text) {
    return platform::Error(DRTLURLErrorDomain, urlCode, text, info);
  };
  if (bodyTooLarge) {
    return error(DRTLURLErrorResponseTooLarge,
                 "The response body is larger than " + std::to_string(kDRTLMaxResponseBodyBytes) + " bytes.");
  }
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return error(DRTLURLErrorNotConnectedToInternet, reason);
    case CURLE_COULDNT_CONNECT:
      if (osErrno == ENETUNREACH || osErrno == EHOSTUNREACH) return error(DRTLURLErrorNotConnectedToInternet, reason);
      return error(DRTLURLErrorCannotConnectToHost, reason);
    case CURLE_OPERATION_TIMEDOUT:
      return error(DRTLURLErrorTimedOut, reason);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
      return error(DRTLURLErrorSecureConnectionFailed, reason);
    default:
      return error(DRTLURLErrorUnknown, reason);
  }
}

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

struct DRTLCurlSession::State {
  std::mutex mutex;
  std::vector<std::pair<DRTLHttpRequest, Completion>> incoming;  // guarded by mutex
  bool cancelRequested = false;                                  // guarded by mutex
  bool stopping = false;                                         // guarded by mutex
  CURLM* multi = nullptr;  // freed with the state, after the thread is done with it

  ~State() {
    if (multi) curl_multi_cleanup(multi);
  }

  std::unique_ptr<Transfer> makeTransfer(DRTLHttpRequest& request, Completion completion) {
    auto transfer = std::make_unique<Transfer>();
    transfer->completion = std::move(completion);
    CURL* easy = transfer->easy = curl_easy_init();
    if (!easy) return transfer;
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, writeHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
    if (request.body) {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body->size()));
      curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, request.body->data());
    }
    if (request.method != (request.body ? "POST" : "GET")) {
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    for (const auto& [name, value] : request.headers) {
      transfer->headers = curl_slist_append(transfer->headers, (name + ": " + value).c_str());
    }
    // No "Expect: 100-continue" round trip before a body.
    transfer->headers = curl_slist_append(transfer->headers, "Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers);
    return transfer;
  }

  static void finish(Transfer& transfer, CURLcode code) {
    if (code == CURLE_OK) {
      long status = 0;
      curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
      char* url = nullptr;
      curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &url);
      transfer.response->statusCode = status;
      transfer.response->url = url ? url : "";
      transfer.completion(std::move(transfer.body), transfer.response, std::nullopt);
      return;
    }
    long osErrno = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_OS_ERRNO, &osErrno);
    transfer.completion(std::nullopt, nullptr, transportError(code, osErrno, transfer.bodyTooLarge));
  }

  void run() {
    std::vector<std::unique_ptr<Transfer>> active;
    auto release = [&](Transfer* transfer) {
      curl_multi_remove_handle(multi, transfer->easy);
      std::unique_ptr<Transfer> owned;
      for (auto it = active.begin(); it != active.end(); ++it) {
        if (it->get() == transfer) {
          owned = std::move(*it);
          active.erase(it);
          break;
        }
      }
      return owned;
    };
    for (;;) {
      std::vector<std::pair<DRTLHttpRequest, Completion>> requests;
      bool cancel = false;
      {
        std::lock_guard lock(mutex);
        if (stopping) break;
        requests.swap(incoming);
        cancel = std::exchange(cancelRequested, false);
      }
      if (cancel) {
        std::vector<std::unique_ptr<Transfer>> cancelled;
        cancelled.swap(active);
        for (auto& transfer : cancelled) {
          curl_multi_remove_handle(multi, transfer->easy);
          transfer->completion(std::nullopt, nullptr,
                               platform::Error(DRTLErrorDomain, DRTLCanceledErrorCode, kDRTLCanceledErrorDesc));
        }
      }
      for (auto& [request, completion] : requests) {
        std::unique_ptr<Transfer> transfer = makeTransfer(request, std::move(completion));
        if (!transfer->easy || curl_multi_add_handle(multi, transfer->easy) != CURLM_OK) {
          transfer->completion(std::nullopt, nullptr, transportError(CURLE_FAILED_INIT, 0, false));
          continue;
        }
        active.push_back(std::move(transfer));
      }
      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        Transfer* transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
        const CURLcode code = message->data.result;
        if (std::unique_ptr<Transfer> owned = release(transfer)) finish(*owned, code);
      }
      curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    for (auto& transfer : active) curl_multi_remove_handle(multi, transfer->easy);
    active.clear();
  }
};

DRTLCurlSession::DRTLCurlSession(long maxConnectionsPerHost) : state_(std::make_shared<State>()) {
  initialiseCurlOnce();
  state_->multi = curl_multi_init();
  if (maxConnectionsPerHost > 0) curl_multi_setopt(state_->multi, CURLMOPT_MAX_HOST_CONNECTIONS, maxConnectionsPerHost);
  // The thread keeps the state alive, so a session destroyed from one of its
  // own completions lets the loop finish after that completion returns.
  thread_ = std::make_unique<platform::Thread>("TelemetryHttp", [state = state_](std::stop_token) { state->run(); });
}

DRTLCurlSession::~DRTLCurlSession() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
  }
  curl_multi_wakeup(state_->multi);
  thread_.reset();  // joins, or from a completion hands the thread to the platform's joiner
}

void DRTLCurlSession::start(DRTLHttpRequest request, Completion completion) {
  {
    std::lock_guard lock(state_->mutex);
    state_->incoming.emplace_back(std::move(request), std::move(completion));
  }
  curl_multi_wakeup(state_->multi);
}

void DRTLCurlSession::cancelAll() {
  {
    std::lock_guard lock(state_->mutex);
    state_->cancelRequested = true;
  }
  curl_multi_wakeup(state_->multi);
}

}  // namespace telemetry::core
