#pragma once
// A python3 HTTP capture server on 127.0.0.1 (port chosen by the system) for
// the life of the object: it records every request and answers with a
// scripted list of responses (the last one repeats). The object reads its
// records on a thread of its own; the destructor ends the server and waits
// for it.

#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace testing_support {

struct CapturedRequest {
  std::string method;
  std::string path;
  std::string query;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // raw bytes

  // The first header of that name (any case), empty when absent.
  std::string header(const std::string& name) const;
  bool hasHeader(const std::string& name) const;
};

// A certificate (PEM) and its private key: the server then speaks https.
struct TlsIdentity {
  std::string certificateFile;
  std::string keyFile;
};

class HttpCaptureServer {
 public:
  // `script` is the JSON list of responses, e.g. R"([{"status":503}])";
  // "{origin}" in a body becomes the server's own "scheme://127.0.0.1:PORT".
  explicit HttpCaptureServer(const std::string& script = R"([{"status":200}])",
                             const std::optional<TlsIdentity>& tls = std::nullopt);
  // Another python3 peer speaking the same protocol: it prints "listening on
  // <origin>", then one record per request, and ends when its input closes.
  HttpCaptureServer(const std::string& peerScript, const std::vector<std::string>& arguments);
  ~HttpCaptureServer();
  HttpCaptureServer(const HttpCaptureServer&) = delete;
  HttpCaptureServer& operator=(const HttpCaptureServer&) = delete;

  // "http://127.0.0.1:PORT" (https with TLS); empty when the server did not start.
  const std::string& baseUrl() const { return baseUrl_; }
  std::vector<CapturedRequest> requests() const;
  std::size_t requestCount() const;
  // Waits (real time, bounded) until `count` requests have been recorded.
  bool waitForRequests(std::size_t count) const;

 private:
  void start(const std::string& peerScript, const std::vector<std::string>& arguments);
  void addRecord(const std::string& line);

  pid_t pid_ = -1;
  int stdinFd_ = -1;
  std::string baseUrl_;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::vector<CapturedRequest> requests_;  // guarded by mutex_
};

}  // namespace testing_support
