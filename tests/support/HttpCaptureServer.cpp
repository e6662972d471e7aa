#include "tests/support/HttpCaptureServer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include <nlohmann/json.hpp>

#include "platform/Base64.h"
#include "tests/support/RunLoopWait.h"

namespace testing_support {
namespace {

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Lines from a descriptor, read in blocks: the records carry whole bodies in
// Base64, and a read per byte made the reader cost more than the server.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // The next line (without the newline); false at end of input.
  bool next(std::string& line) {
    for (;;) {
      if (const std::size_t end = pending_.find('\n', scanned_); end != std::string::npos) {
        line.assign(pending_, 0, end);
        pending_.erase(0, end + 1);
        scanned_ = 0;
        return true;
      }
      scanned_ = pending_.size();
      char block[65536];
      const ssize_t got = read(fd_, block, sizeof block);
      if (got <= 0) {
        line.swap(pending_);
        pending_.clear();
        scanned_ = 0;
        return !line.empty();
      }
      pending_.append(block, static_cast<std::size_t>(got));
    }
  }

  int fd() const { return fd_; }

 private:
  int fd_;
  std::string pending_;
  std::size_t scanned_ = 0;
};

}  // namespace

std::string CapturedRequest::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (sameName(key, name)) return value;
  }
  return {};
}

bool CapturedRequest::hasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(), [&](const auto& entry) { return sameName(entry.first, name); });
}

HttpCaptureServer::HttpCaptureServer(const std::string& script, const std::optional<TlsIdentity>& tls) {
  std::vector<std::string> arguments = {script};
  if (tls) arguments.insert(arguments.end(), {tls->certificateFile, tls->keyFile});
  start(std::string(VZ_TEST_SUPPORT_DIR) + "/http_capture_server.py", arguments);
}

HttpCaptureServer::HttpCaptureServer(const std::string& peerScript, const std::vector<std::string>& arguments) {
  start(peerScript, arguments);
}

void HttpCaptureServer::start(const std::string& peerScript, const std::vector<std::string>& arguments) {
  int toChild[2];
  int fromChild[2];
  if (pipe(toChild) != 0) return;
  if (pipe(fromChild) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    return;
  }
  std::vector<const char*> argv = {"python3", peerScript.c_str()};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(toChild[0], STDIN_FILENO);
    dup2(fromChild[1], STDOUT_FILENO);
    close(toChild[0]);
    close(toChild[1]);
    close(fromChild[0]);
    close(fromChild[1]);
    execvp("python3", const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  stdinFd_ = toChild[1];
  auto lines = std::make_shared<LineReader>(fromChild[0]);
  std::string line;
  if (pid_ > 0 && lines->next(line) && line.rfind("listening on ", 0) == 0) {
    baseUrl_ = line.substr(13);
  }
  reader_ = std::thread([this, lines] {
    std::string record;
    while (lines->next(record)) addRecord(record);
    close(lines->fd());
  });
}

HttpCaptureServer::~HttpCaptureServer() {
  if (stdinFd_ >= 0) close(stdinFd_);  // the server ends when its input closes
  if (pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (reader_.joinable()) reader_.join();
}

void HttpCaptureServer::addRecord(const std::string& line) {
  const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
  if (record.is_discarded()) return;
  CapturedRequest request;
  request.method = record.value("method", "");
  request.path = record.value("path", "");
  request.query = record.value("query", "");
  for (const auto& header : record.value("headers", nlohmann::json::array())) {
    request.headers.emplace_back(header.at(0).get<std::string>(), header.at(1).get<std::string>());
  }
  if (auto bytes = platform::base64Decode(record.value("body", ""))) request.body.assign(bytes->begin(), bytes->end());
  std::lock_guard lock(mutex_);
  requests_.push_back(std::move(request));
}

std::vector<CapturedRequest> HttpCaptureServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t HttpCaptureServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

bool HttpCaptureServer::waitForRequests(std::size_t count) const {
  return waitForCondition([&] { return requestCount() >= count; }, "captured requests");
}

}  // namespace testing_support
