#pragma once
// ScriptedNodeServer: a fake playout node for link tests. It listens on
// 127.0.0.1 (port 0: a free port), serves one client at a time (a new
// connection replaces the old one), cuts what it receives into "\n\r"-framed
// command lines and answers each from the test's script: one write, several
// writes, pieces held back until the test releases them, silence, or a
// dropped connection. It records every line and every byte it received.
//
// Owned by one test; its thread is joined in the destructor. All members are
// safe from the test's threads. Header-only so that every test file of the
// folder can use it.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Thread.h"

namespace testing_support {

class ScriptedNodeServer {
 public:
  struct Reply {
    std::vector<std::string> pieces;  // each its own write; none: stay silent
    std::size_t heldFrom = SIZE_MAX;  // pieces from this index wait for release()
    bool dropAfter = false;           // close the connection after the written pieces

    static Reply text(std::string bytes) { return Reply{{std::move(bytes)}, SIZE_MAX, false}; }
    static Reply split(std::vector<std::string> parts) { return Reply{std::move(parts), SIZE_MAX, false}; }
    // The first piece at once, the rest one per release().
    static Reply held(std::vector<std::string> parts) { return Reply{std::move(parts), 1, false}; }
    static Reply silent() { return Reply{}; }
    static Reply drop() { return Reply{{}, SIZE_MAX, true}; }
  };
  using Script = std::function<Reply(const std::string& line)>;

  explicit ScriptedNodeServer(Script script) : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("ScriptedNodeServer: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    thread_ = std::make_unique<platform::Thread>("test.scriptedNode", [this](std::stop_token stop) { serve(stop); });
  }

  ~ScriptedNodeServer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake();
    thread_.reset();
    closeClient();
    ::close(listener_);
    ::close(wake_);
  }
  ScriptedNodeServer(const ScriptedNodeServer&) = delete;
  ScriptedNodeServer& operator=(const ScriptedNodeServer&) = delete;

  int port() const { return port_; }

  // Command lines received, without their line ends, in order.
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  std::size_t countLines(std::string_view line) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count(lines_.begin(), lines_.end(), line));
  }
  std::string receivedBytes() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::size_t connectionCount() const {
    std::lock_guard lock(mutex_);
    return connections_;
  }
  bool hasClient() const {
    std::lock_guard lock(mutex_);
    return client_ >= 0;
  }
  // Pieces held back and not yet released.
  std::size_t heldPieceCount() const {
    std::lock_guard lock(mutex_);
    return held_.size();
  }

  // Writes the next held piece (of the oldest reply still holding some).
  void release() { post([this] { writeNextHeld(); }); }
  // Writes bytes nobody asked for.
  void sendUnsolicited(std::string bytes) {
    post([this, bytes = std::move(bytes)] { writeToClient(bytes); });
  }
  void dropClient() { post([this] { closeClient(); }); }
  // Runs `action` on the server thread after everything posted before.
  void post(std::function<void()> action) {
    {
      std::lock_guard lock(mutex_);
      actions_.push_back(std::move(action));
    }
    wake();
  }
  // True once the server thread has run every action posted so far.
  bool isIdle() const {
    std::lock_guard lock(mutex_);
    return actions_.empty() && !busy_;
  }

 private:
  void wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
  }

  void serve(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
      const int client = currentClient();
      std::array<pollfd, 3> fds{{{listener_, POLLIN, 0}, {wake_, POLLIN, 0}, {client, POLLIN, 0}}};
      if (::poll(fds.data(), client >= 0 ? 3 : 2, 1000) < 0) continue;
      if (fds[1].revents != 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] const auto read = ::read(wake_, &value, sizeof value);
      }
      {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
      }
      if (fds[0].revents != 0) accept();
      if (client >= 0 && client == currentClient() && fds[2].revents != 0) readFromClient();
      runActions();
    }
  }

  void runActions() {
    for (;;) {
      std::function<void()> action;
      {
        std::lock_guard lock(mutex_);
        if (actions_.empty()) return;
        action = std::move(actions_.front());
        actions_.pop_front();
        busy_ = true;
      }
      action();
      std::lock_guard lock(mutex_);
      busy_ = false;
    }
  }

  int currentClient() const {
    std::lock_guard lock(mutex_);
    return client_;
  }

  void accept() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    closeClient();
    std::lock_guard lock(mutex_);
    client_ = fd;
    buffer_.clear();
    ++connections_;
  }

  void closeClient() {
    std::lock_guard lock(mutex_);
    if (client_ >= 0) ::close(client_);
    client_ = -1;
    held_.clear();
  }

  void readFromClient() {
    std::array<char, 65536> chunk{};
    const ssize_t n = ::recv(currentClient(), chunk.data(), chunk.size(), 0);
    if (n <= 0) {
      closeClient();
      return;
    }
    std::vector<std::string> complete;
    {
      std::lock_guard lock(mutex_);
      received_.append(chunk.data(), static_cast<std::size_t>(n));
      buffer_.append(chunk.data(), static_cast<std::size_t>(n));
      for (std::size_t end; (end = buffer_.find("\n\r")) != std::string::npos;) {
        complete.push_back(buffer_.substr(0, end));
        buffer_.erase(0, end + 2);
      }
      lines_.insert(lines_.end(), complete.begin(), complete.end());
    }
    for (const std::string& line : complete) answer(script_(line));
  }

  void answer(const Reply& reply) {
    // Held pieces are recorded before anything is written, so a test that
    // saw the first piece arrive can release the next one.
    {
      std::lock_guard lock(mutex_);
      for (std::size_t i = reply.heldFrom; i < reply.pieces.size(); ++i) held_.push_back(reply.pieces[i]);
    }
    for (std::size_t i = 0; i < std::min(reply.heldFrom, reply.pieces.size()); ++i) writeToClient(reply.pieces[i]);
    if (reply.dropAfter) closeClient();
  }

  void writeNextHeld() {
    std::string piece;
    {
      std::lock_guard lock(mutex_);
      if (held_.empty()) return;
      piece = std::move(held_.front());
      held_.pop_front();
    }
    writeToClient(piece);
  }

  void writeToClient(std::string_view bytes) {
    const int fd = currentClient();
    while (fd >= 0 && !bytes.empty()) {
      pollfd out{fd, POLLOUT, 0};
      if (::poll(&out, 1, 1000) <= 0) return;
      const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  const Script script_;
  int listener_ = -1;
  int wake_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  int client_ = -1;                               // guarded by mutex_
  std::string buffer_;                            // guarded by mutex_
  std::string received_;                          // guarded by mutex_
  std::vector<std::string> lines_;                // guarded by mutex_
  std::deque<std::string> held_;                  // guarded by mutex_
  std::deque<std::function<void()>> actions_;     // guarded by mutex_
  std::size_t connections_ = 0;                   // guarded by mutex_
  bool busy_ = false;                             // guarded by mutex_
  bool stopping_ = false;                         // guarded by mutex_
  std::unique_ptr<platform::Thread> thread_;      // declared last: joined first
};

}  // namespace testing_support
