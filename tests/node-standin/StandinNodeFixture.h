#pragma once
// A stand-in node served over loopback for the protocol tests: two media
// files probed by a fake (no FFmpeg needed), a manual clock, the node's log
// kept for checks, and TestClient, a client over a real socket.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "node-standin/MediaLibrary.h"
#include "node-standin/NodeServer.h"
#include "node-standin/NodeSession.h"
#include "node-standin/NodeState.h"
#include "platform/Clock.h"
#include "platform/PropertyList.h"
#include "tests/support/TemporaryDirectory.h"

namespace standin {
namespace testing_node {

using namespace std::chrono_literals;
using platform::Value;

constexpr std::size_t kTestLineLimit = 64 * 1024;

// A client of the node over a real loopback socket. Every read is guarded by
// a ten-second receive limit, so a missing reply fails instead of hanging.
class TestClient {
 public:
  explicit TestClient(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~TestClient() { ::close(fd_); }

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
  std::optional<Value> query(std::string_view line) {
    send(std::string(line) + "\n\r");
    const std::string reply = readReply(true);
    platform::Result<Value> value = platform::readPropertyList(reply);
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

inline MediaProbe fakeProbe(const std::filesystem::path& path) {
  MediaProbe probe;
  probe.durationInSeconds = path.filename() == "a.mov" ? 4.0 : 6.0;
  probe.framesPerSecond = 25;
  return probe;
}

// A node over two media files of 4 s and 6 s (probed by a fake, so no FFmpeg
// is needed), listening on 127.0.0.1 with a free port, on a manual clock.
class NodeProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(media_ / "a.mov") << "a";
    std::ofstream(media_ / "b.mov") << "b";
  }

  void startNode(std::optional<std::string> password = std::nullopt,
                 NodeServer::Options serverOptions = {.maxLineBytes = kTestLineLimit}) {
    MediaLibrary::Options options;
    options.prober = fakeProbe;
    library_.emplace(std::vector<std::filesystem::path>{media_.path()}, options);
    NodeState::Settings settings{{"NODE-ID", "Studio A"}, std::move(password),
                                 [](const std::filesystem::path&, double seconds) -> platform::Result<platform::Data> {
                                   return platform::Data{'I', 'I', static_cast<std::uint8_t>(seconds)};
                                 },
                                 [this](const std::string& line) { keepLogLine(line); }};
    node_.emplace(std::move(settings), *library_);
    sessions_.emplace(*node_);
    server_.emplace(*sessions_, serverOptions, [this](const std::string& line) { keepLogLine(line); });
    const platform::Status started = server_->start("127.0.0.1", 0);
    ASSERT_TRUE(started.ok()) << started.error().describe();
    ASSERT_NE(server_->port(), 0);
  }

  // What the node and its server logged so far.
  std::vector<std::string> logLines() const {
    const std::lock_guard lock(logMutex_);
    return logLines_;
  }

  std::string folderID() const { return library_->folders().front().uniqueID(); }
  std::string itemID(const char* name) const {
    return library_->findItemAtPath((media_.path() / name).string())->item->uniqueID;
  }

  // Two clips as a client sends them: one property-list text over many lines.
  std::string clipsText() const {
    auto clip = [&](const char* playbackID, const char* name, const char* endBehaviour) {
      return Value(platform::Dictionary{
          {"clipInfoPlaybackUniqueID", Value(playbackID)},
          {"clipInfoMediaFolderUniqueID", Value(folderID())},
          {"clipInfoMediaItemUniqueID", Value(itemID(name))},
          {"clipInfoAttributes", Value(platform::Dictionary{{"Clip End Behaviour", Value(endBehaviour)}})},
          {"clipInfoHasInPoint", Value(true)},
          {"clipInfoInPointInSeconds", Value(1.0)},
          {"clipInfoHasOutPoint", Value(false)},
          {"clipInfoOutPointInSeconds", Value(0.0)},
      });
    };
    return platform::writePropertyList(
               Value(platform::Array{clip("P1", "a.mov", "Chain"), clip("P2", "b.mov", "Normal")}))
        .value();
  }

  void keepLogLine(const std::string& line) {
    const std::lock_guard lock(logMutex_);
    logLines_.push_back(line);
  }

  mutable std::mutex logMutex_;
  std::vector<std::string> logLines_;
  platform::ManualClock clock_;
  platform::ScopedClockOverride override_{clock_};
  testing_support::TemporaryDirectory media_;
  std::optional<MediaLibrary> library_;
  std::optional<NodeState> node_;
  std::optional<NodeSessionFactory> sessions_;
  std::optional<NodeServer> server_;  // declared last: stops first
};

}  // namespace testing_node
}  // namespace standin
