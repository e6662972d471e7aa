#pragma once
// NodeSocket and WakeupEvent: the POSIX pieces under the node link. A
// NodeSocket is one non-blocking TCP client socket; a WakeupEvent is an
// eventfd that other threads signal to wake a poll loop.
//
// Owned by the link thread of one TelnetController (the socket) or by the
// controller (the wake-up event, signalled from any thread). Nothing here
// blocks: every call returns at once with what the kernel allowed, and the
// caller waits in poll() with a time limit.

#include <sys/socket.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"

namespace nodes::detail {

inline constexpr const char* kNodeSocketErrorDomain = "NodeSocketErrorDomain";
enum class NodeSocketErrorCode { ResolveFailed = 1, ConnectFailed = 2, IoFailed = 3 };

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

// Addresses for `host` (numeric or a name) and `port`, IPv4 and IPv6.
platform::Result<std::vector<SocketAddress>> resolveHost(const std::string& host, int port);

enum class IoOutcome {
  Progress = 1,    // some bytes moved
  WouldBlock = 2,  // nothing now; wait for poll
  Closed = 3,      // the peer ended the stream (reads only)
  Failed = 4,      // an error: the link is unusable
};

struct IoResult {
  IoOutcome outcome = IoOutcome::WouldBlock;
  std::size_t bytes = 0;
  int error = 0;  // errno for Failed
};

class NodeSocket {
 public:
  NodeSocket() = default;
  ~NodeSocket();
  NodeSocket(NodeSocket&& other) noexcept;
  NodeSocket& operator=(NodeSocket&& other) noexcept;
  NodeSocket(const NodeSocket&) = delete;
  NodeSocket& operator=(const NodeSocket&) = delete;

  // Adopts an open descriptor (made non-blocking here).
  explicit NodeSocket(int fd);

  // Starts a non-blocking connect; success means connected or in progress
  // (wait for POLLOUT, then finishConnect()).
  static platform::Result<NodeSocket> startConnect(const SocketAddress& address);
  // The outcome of the connect once the socket polled writable.
  platform::Status finishConnect() const;

  IoResult readSome(char* buffer, std::size_t capacity) const;
  IoResult writeSome(std::string_view bytes) const;

  int fd() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }
  void close();

 private:
  int fd_ = -1;
};

class WakeupEvent {
 public:
  WakeupEvent();
  ~WakeupEvent();
  WakeupEvent(const WakeupEvent&) = delete;
  WakeupEvent& operator=(const WakeupEvent&) = delete;

  // Any thread; never blocks.
  void signal();
  // Clears pending signals (poll thread).
  void drain();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

std::string describeErrno(int error);

}  // namespace nodes::detail
