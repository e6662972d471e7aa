#include "tests/support/HttpCaptureServer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

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

// One line from the descriptor (without the newline); false at end of input.
bool readLine(int fd, std::string& line) {
  line.clear();
  char c = 0;
  for (;;) {
    const ssize_t got = read(fd, &c, 1);
    if (got <= 0) return !line.empty();
    if (c == '\n') return true;
    line += c;
  }
}

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
  std::string line;
  if (pid_ > 0 && readLine(fromChild[0], line) && line.rfind("listening on ", 0) == 0) {
    baseUrl_ = line.substr(13);
  }
  reader_ = std::thread([this, fd = fromChild[0]] { readRecords(fd); });
}

HttpCaptureServer::~HttpCaptureServer() {
  if (stdinFd_ >= 0) close(stdinFd_);  // the server ends when its input closes
  if (pid_ > 0) {
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (reader_.joinable()) reader_.join();
}

void HttpCaptureServer::readRecords(int fd) {
  std::string line;
  while (readLine(fd, line)) {
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_discarded()) continue;
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
  close(fd);
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
