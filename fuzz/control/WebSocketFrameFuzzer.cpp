// Frames from a hostile peer: the input goes through a socket pair to the
// server side of a WebSocket, then the peer closes. The reader must end the
// connection without a crash, a hang or an allocation beyond the message
// bound. (The client side reads with the same code; it is left out because its
// masking draws on OpenSSL's per-thread generator, whose state the leak
// checker reports for the pool's threads.)
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "control/websocket/CVNWebSocket.h"
#include "platform/DispatchQueue.h"

namespace {

class FuzzedWebSocket : public control::CVNWebSocket {
 public:
  static std::shared_ptr<FuzzedWebSocket> attach(const std::shared_ptr<control::CVNSocket>& socket) {
    auto ws = std::shared_ptr<FuzzedWebSocket>(new FuzzedWebSocket());
    ws->socket_ = socket;
    ws->socketQueue_ = socket->delegateQueue();
    ws->setMaximumMessageLength(1 << 20);
    socket->synchronouslySetDelegate(std::static_pointer_cast<control::CVNSocketDelegate>(ws));
    ws->readNextFrame();
    return ws;
  }
  void socketDidDisconnect(const std::shared_ptr<control::CVNSocket>&, const std::optional<platform::Error>&) override {
    {
      std::lock_guard guard(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
  }
  bool waitUntilClosed() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return closed_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto queue = std::make_shared<platform::SerialQueue>("fuzz.websocket.delegate");
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  auto socket = control::CVNSocket::socketFromConnectedSocketFD(fds[0], {}, queue);
  if (!socket) {
    ::close(fds[0]);
    ::close(fds[1]);
    return 0;
  }
  auto ws = FuzzedWebSocket::attach(*socket);
  // Whatever comes back (pongs, the close frame) is drained by a reader so
  // neither side blocks.
  std::thread drain([peer = fds[1]] {
    char buffer[4096];
    while (::read(peer, buffer, sizeof buffer) > 0) {
    }
  });
  std::size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(fds[1], data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(fds[1], SHUT_WR);
  if (!ws->waitUntilClosed()) __builtin_trap();
  (*socket)->disconnect();
  ::shutdown(fds[1], SHUT_RDWR);
  drain.join();
  ::close(fds[1]);
  return 0;
}
