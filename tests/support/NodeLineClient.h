#pragma once
// NodeLineClient: speaks a node's line protocol directly, for tests that
// check what the node itself reports (the stand-in, in or out of process).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/PropertyList.h"

namespace testing_support {

// A client of the node over a real loopback socket. Every read is guarded by
// a ten-second receive limit, so a missing reply fails instead of hanging.
class NodeLineClient {
 public:
  explicit NodeLineClient(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~NodeLineClient() { ::close(fd_); }
  NodeLineClient(const NodeLineClient&) = delete;
  NodeLineClient& operator=(const NodeLineClient&) = delete;

  bool connected() const { return connected_; }

  void send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t written = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (written <= 0) return;
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
  }

  // Sends one command as clients do (LF CR) and reads a plain reply.
  std::string command(std::string_view line) {
    send(std::string(line) + "\n\r");
    return readReply(false);
  }

  // Sends one command and parses its property-list reply; none when the
  // reply is a refusal or does not parse.
  std::optional<platform::Value> query(std::string_view line) {
    send(std::string(line) + "\n\r");
    const std::string reply = readReply(true);
    platform::Result<platform::Value> value = platform::readPropertyList(reply);
    if (!value) return std::nullopt;
    return value.value();
  }

  // Reads until a reply is complete by the clients' rules, a line end for
  // plain replies, "</plist>\n" for property lists (or a refusal), and
  // takes it off the front of what arrived.
  std::string readReply(bool propertyList) {
    while (true) {
      std::size_t end = buffer_.find("\r\n");
      if (end != std::string::npos) end += 2;
      if (propertyList && !(end != std::string::npos && end < 10)) {
        end = buffer_.find("</plist>\n");
        if (end != std::string::npos) end += 9;
      }
      if (end != std::string::npos) {
        std::string reply = buffer_.substr(0, end);
        buffer_.erase(0, end);
        return reply;
      }
      if (!receive()) return "<closed: " + std::exchange(buffer_, {}) + ">";
    }
  }

  // Reads `count` replies that are all `reply`; true when exactly those came.
  bool readRepeatedReply(std::string_view reply, std::size_t count) {
    while (buffer_.size() < reply.size() * count) {
      if (!receive()) return false;
    }
    for (std::size_t at = 0; at < buffer_.size(); at += reply.size()) {
      if (std::string_view(buffer_).substr(at, reply.size()) != reply) return false;
    }
    const bool exact = buffer_.size() == reply.size() * count;
    buffer_.clear();
    return exact;
  }

  // Everything the node still sends, up to its end of the link.
  std::string readUntilClosed() {
    while (receive()) {
    }
    return std::exchange(buffer_, {});
  }

 private:
  bool receive() {
    char chunk[65536];
    const ssize_t received = ::recv(fd_, chunk, sizeof chunk, 0);
    if (received <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(received));
    return true;
  }

  int fd_;
  bool connected_ = false;
  std::string buffer_;
};

}  // namespace testing_support
