// A request as a peer sends it, through a socket pair into an HTTP connection
// whose routes answer every method with the parsed query parameters. Whatever
// comes, the connection answers once with an HTTP/1.1 response that says
// "Connection: close", or closes without one; it never hangs.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "control/http/CVNWebConnection.h"
#include "platform/DispatchQueue.h"

namespace {

class AnsweringConnection : public control::CVNWebConnection {
 public:
  bool respondsToMethod(const std::string&, const std::string&) override { return true; }
  bool respondsToWebSocketProtocol(const std::optional<std::string>&, const std::string&) override { return true; }
  std::optional<std::string> responseForMethod(const std::string&, const std::string& path) override {
    std::string listed = path + "\n";
    for (const auto& [key, value] : parameters()) listed += key + ";";
    (void)pathComponents();
    return listed;
  }
};

class QuietServer : public control::CVNWebConnectionDelegate {
 public:
  void connectionDidFinish(control::CVNWebConnection&) override {}
  void logMessage(const std::string&) override {}
  bool allowsOrigin(const std::string&) const override { return true; }
  bool allowsEveryOrigin() const override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 0;
  auto server = std::make_shared<QuietServer>();
  auto queue = std::make_shared<platform::SerialQueue>("fuzz.web.delegate");
  auto socket = control::CVNSocket::socketFromConnectedSocketFD(pair[0], {}, queue);
  if (!socket) {
    ::close(pair[0]);
    ::close(pair[1]);
    return 0;
  }
  auto connection = control::CVNWebConnection::create<AnsweringConnection>(*socket, server);
  connection->start();
  std::size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(pair[1], data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(pair[1], SHUT_WR);
  std::string answer;
  char buffer[4096];
  while (true) {
    pollfd polled{pair[1], POLLIN, 0};
    if (::poll(&polled, 1, 10000) != 1) __builtin_trap();  // neither an answer nor a close
    const ssize_t n = ::read(pair[1], buffer, sizeof buffer);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pair[1]);
  if (!answer.empty() && !answer.starts_with("HTTP/1.1 ")) __builtin_trap();
  if (!answer.empty() && !answer.starts_with("HTTP/1.1 101") && answer.find("\r\nConnection: close\r\n") == std::string::npos) {
    __builtin_trap();
  }
  (*socket)->disconnect();
  return 0;
}
