#pragma once
// The CVNSocket echo server the control benchmarks share (it echoes whatever
// it reads, optionally greeting each connection with "!"), and a blocking
// loopback connect for their clients.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "control/sockets/CVNSocket.h"
#include "platform/DispatchQueue.h"

namespace control_benchmarks {

using control::Bytes;
using control::CVNSocket;

class EchoDelegate : public control::CVNSocketDelegate {
 public:
  void socketDidAcceptNewSocket(const std::shared_ptr<CVNSocket>&, const std::shared_ptr<CVNSocket>& s) override {
    {
      std::lock_guard guard(mutex_);
      sockets_.push_back(s);
    }
    if (greet) s->writeData(control::makeBytes("!"), -1, 0);
    s->readDataWithTimeout(-1, 0);
  }
  void socketDidReadData(const std::shared_ptr<CVNSocket>& s, const control::CVNSocketData& data, std::int64_t) override {
    s->writeData(std::make_shared<const Bytes>(data.copy()), -1, 0);
    s->readDataWithTimeout(-1, 0);
  }
  void socketDidDisconnect(const std::shared_ptr<CVNSocket>& s, const std::optional<platform::Error>&) override {
    std::lock_guard guard(mutex_);
    std::erase(sockets_, s);
  }
  bool greet = false;

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<CVNSocket>> sockets_;
};

struct SocketServer {
  explicit SocketServer(bool greet) {
    delegate->greet = greet;
    listener = CVNSocket::create(delegate, queue);
    if (!listener->acceptOnInterface("127.0.0.1", 0)) listener.reset();
  }
  ~SocketServer() {
    if (listener) listener->disconnect();
  }
  std::shared_ptr<EchoDelegate> delegate = std::make_shared<EchoDelegate>();
  std::shared_ptr<platform::DispatchQueue> queue = std::make_shared<platform::SerialQueue>("bench.socket.delegate");
  std::shared_ptr<CVNSocket> listener;
};

inline int connectTo(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace control_benchmarks
