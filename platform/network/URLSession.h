#pragma once
// URLSession: HTTP(S) requests on libcurl's multi interface, driven by one
// thread of its own. Completions and progress run on the queue the session
// is given. Every request has a finite time-out measured on
// platform::Clock; TLS peers are always verified; a credential is offered
// for Basic or Digest, whichever the server asks for, and a refused one is
// not sent again; uploads stream from a file; replies are bounded in size.
//
// Owned by its user; destruction cancels what is still running (their
// completions report cancellation) and joins the thread. Any thread.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/Error.h"

namespace platform {

inline constexpr const char* kURLSessionErrorDomain = "URLSessionErrorDomain";
enum class URLSessionErrorCode {
  Unknown = -1,
  Cancelled = -999,
  BadURL = -1000,
  TimedOut = -1001,
  CannotConnect = -1004,
  ReplyTooLarge = -1103,
  CannotReadUploadFile = -3001,
};

struct URLRequest {
  std::string method = "GET";
  std::string url;
  // A header with an empty value is sent empty (not left out).
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Streamed as the body when set (the body above is then ignored): the whole
  // file, or only `uploadRange` of it.
  std::optional<std::filesystem::path> uploadFile;
  struct FileRange {
    std::int64_t offset = 0;
    std::int64_t length = 0;
  };
  std::optional<FileRange> uploadRange;
  // Trusted instead of the system's authorities when set (a private CA).
  std::optional<std::filesystem::path> certificateAuthorities;
  Clock::Duration timeout = std::chrono::seconds(60);  // zero or less: the default
};

struct URLCredential {
  std::string user;
  std::string password;
};

struct URLResponse {
  long statusCode = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // in order, names as sent
  std::string body;
};

class URLSession {
 public:
  using Completion = std::function<void(Result<URLResponse>)>;
  // Bytes sent and to send, received and to receive (0 when unknown).
  using Progress = std::function<void(std::int64_t sent, std::int64_t toSend, std::int64_t received,
                                      std::int64_t toReceive)>;
  static constexpr std::size_t kDefaultMaximumReplySize = 64u << 20;

  // Completions run on `queue`, which must outlive the session.
  explicit URLSession(DispatchQueue& queue, std::size_t maximumReplySize = kDefaultMaximumReplySize);
  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  // Starts a request; its completion runs exactly once. Returns its id.
  std::uint64_t dataTask(URLRequest request, std::optional<URLCredential> credential, Completion completion,
                         Progress progress = {});
  // Ends the request; its completion reports cancellation (unless it has finished).
  void cancel(std::uint64_t taskId);

 private:
  class Engine;
  std::shared_ptr<Engine> engine_;
};

}  // namespace platform
