#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>

#include "node-standin/MediaLibrary.h"
#include "node-standin/NodeServer.h"
#include "node-standin/NodeSession.h"
#include "node-standin/NodeState.h"
#include "platform/Clock.h"
#include "platform/PropertyList.h"
#include "tests/support/TemporaryDirectory.h"

namespace standin {
namespace {

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

MediaProbe fakeProbe(const std::filesystem::path& path) {
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

  void startNode(std::optional<std::string> password = std::nullopt) {
    MediaLibrary::Options options;
    options.prober = fakeProbe;
    library_.emplace(std::vector<std::filesystem::path>{media_.path()}, options);
    NodeState::Settings settings{{"NODE-ID", "Studio A"}, std::move(password),
                                 [](const std::filesystem::path&, double seconds) -> platform::Result<platform::Data> {
                                   return platform::Data{'I', 'I', static_cast<std::uint8_t>(seconds)};
                                 },
                                 {}};
    node_.emplace(std::move(settings), *library_);
    sessions_.emplace(*node_);
    server_.emplace(*sessions_, NodeServer::Options{kTestLineLimit, 16}, nullptr);
    const platform::Status started = server_->start("127.0.0.1", 0);
    ASSERT_TRUE(started.ok()) << started.error().describe();
    ASSERT_NE(server_->port(), 0);
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

  platform::ManualClock clock_;
  platform::ScopedClockOverride override_{clock_};
  testing_support::TemporaryDirectory media_;
  std::optional<MediaLibrary> library_;
  std::optional<NodeState> node_;
  std::optional<NodeSessionFactory> sessions_;
  std::optional<NodeServer> server_;  // declared last: stops first
};

TEST_F(NodeProtocolTest, AnswersEachLineEndingWithPlainAndPropertyListReplies) {
  startNode();
  TestClient client(server_->port());
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.command("version"), "200\r\n");
  client.send("nodename\n");
  EXPECT_EQ(client.readReply(false), "Studio A\r\n");
  client.send("nodeuniqueid\r\n");
  EXPECT_EQ(client.readReply(false), "NODE-ID\r\n");

  client.send("pbstatus\n\r");
  const std::string reply = client.readReply(true);
  EXPECT_TRUE(reply.starts_with("<?xml ver"));
  EXPECT_TRUE(reply.ends_with("</plist>\n"));
  const Value status = platform::readPropertyList(reply).value();
  EXPECT_EQ(status["status"].stringOr(""), "NOT_INITIALIZED");
  EXPECT_EQ(status["isAuthenticated"].booleanOr(false), true);
  EXPECT_EQ(status["slaveMode"].booleanOr(true), false);
  EXPECT_TRUE(status["currentDateTime"].isDate());
  EXPECT_TRUE(status["lockedClips"].isArray());
}

TEST_F(NodeProtocolTest, RefusesBadInputAndKeepsServingTheClient) {
  startNode();
  TestClient client(server_->port());
  const std::string refused[] = {
      "nosuchcommand",
      "PBSTATUS",
      "plsetloopmode 2",
      "plsetloopmode",
      "plsetchainmode 1 1",
      "plremoveitematindex -1",
      "fmmediafolderinfo NO-SUCH-FOLDER",
      "fmmediaitemschangessince NO-SUCH-FOLDER 0i",
      "pladditems <?xml this is not a property list",
      "pladditems <?xml version=\"1.0\"?><plist version=\"1.0\"><string>x</string></plist>",
      "pbplayitem",  // not initialized yet
      "pbscrubtotime nan",
      "bad \xff\xfe text",
      std::string("with\0nul", 8),
  };
  for (const std::string& line : refused) {
    SCOPED_TRACE(line);
    EXPECT_EQ(client.command(line), "ERROR\r\n");
  }
  EXPECT_EQ(client.query("fmmediaiteminfo NO-SUCH-FOLDER NO-ITEM"), std::nullopt);  // short enough to end an XML wait
  EXPECT_EQ(client.command("version"), "200\r\n");
}

TEST_F(NodeProtocolTest, PlaylistTransferThenPlaybackFollowsTheClock) {
  startNode();
  TestClient client(server_->port());
  const std::string before = client.command("pllastchangenumber");
  for (const char* line : {"plclearall", "plsetuniqueid PLAYLIST-1", "plsetloopmode 0", "plsetchainmode 1",
                           "plsetcuemode 0"}) {
    EXPECT_EQ(client.command(line), "OK\r\n") << line;
  }
  EXPECT_EQ(client.command("pladditems " + clipsText()), "OK\r\n");
  EXPECT_NE(client.command("pllastchangenumber"), before);

  const std::optional<Value> playlist = client.query("plplaylist");
  ASSERT_TRUE(playlist && playlist->isArray());
  ASSERT_EQ(playlist->array()->size(), 2u);
  const Value& first = playlist->array()->front();
  EXPECT_EQ(first["clipInfoPlaybackUniqueID"].stringOr(""), "P1");
  EXPECT_DOUBLE_EQ(first["clipInfoDurationInSeconds"].realOr(0), 3.0);  // 4 s file from its 1 s in point
  EXPECT_EQ(first["clipInfoOnline"].booleanOr(false), true);
  EXPECT_EQ(first["clipInfoRelativePathToMediaItem"].stringOr(""), "a.mov");

  EXPECT_EQ(client.query("pbstatus").value()["status"].stringOr(""), "NOT_INITIALIZED");
  EXPECT_EQ(client.command("pbinitialize"), "OK\r\n");
  EXPECT_EQ(client.command("pbplayitem P1 0.500000"), "OK\r\n");
  clock_.advance(3500ms);  // P1 ends after 2.5 s and chains into P2
  Value status = client.query("pbstatus").value();
  EXPECT_EQ(status["status"].stringOr(""), "PLAYING");
  EXPECT_EQ(status["playlistUniqueID"].stringOr(""), "PLAYLIST-1");
  EXPECT_EQ(status["clipPlaybackUniqueID"].stringOr(""), "P2");
  EXPECT_DOUBLE_EQ(status["position"].realOr(-1), 1.0);
  EXPECT_EQ(status["chainMode"].booleanOr(false), true);
  EXPECT_EQ(status["lockedClips"], Value(platform::Array{Value("P2")}));

  EXPECT_EQ(client.command("pbpause"), "OK\r\n");
  clock_.advance(10s);
  EXPECT_EQ(client.query("pbstatus").value()["status"].stringOr(""), "PAUSED");
  EXPECT_EQ(client.command("pbstartscheduler"), "OK\r\n");  // how clients resume without a schedule
  clock_.advance(10s);  // P2 ("Normal") ends the block: stopped on its last frame
  status = client.query("pbstatus").value();
  EXPECT_EQ(status["status"].stringOr(""), "STOPPED");
  EXPECT_EQ(status["clipPlaybackUniqueID"].stringOr(""), "P2");
  EXPECT_DOUBLE_EQ(status["position"].realOr(-1), 5.0);

  EXPECT_EQ(client.command("plremoveitematindex 0"), "OK\r\n");
  EXPECT_EQ(client.query("plplaylist").value().array()->size(), 1u);
}

TEST_F(NodeProtocolTest, MediaFoldersAnswerIDsInfoChangesAndThumbnails) {
  startNode();
  TestClient client(server_->port());
  const std::optional<Value> folders = client.query("fmmediafoldersuniqueids");
  ASSERT_TRUE(folders);
  EXPECT_EQ(*folders, Value(platform::Array{Value(folderID())}));
  EXPECT_EQ(client.query("fmmediafolderinfo " + folderID()).value()["absolutePath"].stringOr(""),
            media_.path().string());
  EXPECT_EQ(client.query("fmmediaitemsuniqueids " + folderID()).value().array()->size(), 2u);
  EXPECT_EQ(client.command("fmlastchangenumber " + folderID()), "2\r\n");

  const Value info = client.query("fmmediaiteminfo " + folderID() + " " + itemID("b.mov")).value();
  EXPECT_EQ(info["clipInfoRelativePathToMediaItem"].stringOr(""), "b.mov");
  EXPECT_DOUBLE_EQ(info["clipInfoDurationInSeconds"].realOr(0), 6.0);
  EXPECT_EQ(info["clipInfoValidationStatus"].integerOr(0), 2);
  EXPECT_EQ(info["clipInfoNodeUniqueID"].stringOr(""), "NODE-ID");

  const Value changes = client.query("fmmediaitemschangessince " + folderID() + " 1i").value();
  ASSERT_EQ(changes.array()->size(), 1u);
  EXPECT_EQ(changes.array()->front()["changeType"].stringOr(""), "mediaItemChangeTypeAdded");

  std::ofstream(media_ / "c.mov") << "c";
  EXPECT_EQ(client.command("fmlastchangenumber " + folderID()), "2\r\n");  // not rescanned yet
  clock_.advance(5s);
  EXPECT_EQ(client.command("fmlastchangenumber " + folderID()), "3\r\n");

  const std::optional<Value> thumbnail =
      client.query("fmmediaitemthumbnail " + folderID() + " " + itemID("a.mov") + " 2.000000");
  ASSERT_TRUE(thumbnail);
  EXPECT_EQ(*thumbnail, Value(platform::Data{'I', 'I', 2}));
  EXPECT_EQ(client.query("atattributenames").value().array()->size(), 3u);
  EXPECT_EQ(client.query("atattributeinfo Clip End Behaviour").value()["attributeType"].stringOr(""),
            "MultipleValues");
}

TEST_F(NodeProtocolTest, OnlyClientsThatUnlockedMayControlTheNode) {
  startNode("secret");
  TestClient operatorClient(server_->port());
  TestClient viewer(server_->port());
  EXPECT_EQ(operatorClient.query("pbstatus").value()["isAuthenticated"].booleanOr(true), false);
  EXPECT_EQ(operatorClient.command("pbinitialize"), "LOCKED\r\n");
  EXPECT_EQ(operatorClient.command("unlock wrong"), "ERROR\r\n");
  EXPECT_EQ(operatorClient.command("unlock secret"), "OK\r\n");
  EXPECT_EQ(operatorClient.query("pbstatus").value()["isAuthenticated"].booleanOr(false), true);
  EXPECT_EQ(operatorClient.command("setslavemode 1"), "OK\r\n");

  EXPECT_EQ(viewer.command("plclearall"), "LOCKED\r\n");
  const Value seen = viewer.query("pbstatus").value();
  EXPECT_EQ(seen["slaveMode"].booleanOr(false), true);
  EXPECT_EQ(seen["isAuthenticated"].booleanOr(true), false);

  EXPECT_EQ(operatorClient.command("lock"), "OK\r\n");
  EXPECT_EQ(operatorClient.command("pbstop"), "LOCKED\r\n");
}

TEST_F(NodeProtocolTest, ServesTwoClientsAtOnce) {
  startNode();
  TestClient first(server_->port());
  TestClient second(server_->port());
  first.send("plsetuni");  // an unfinished line holds up no one
  EXPECT_EQ(second.command("plsetuniqueid FROM-SECOND"), "OK\r\n");
  first.send("queid FROM-FIRST\n\r");
  EXPECT_EQ(first.readReply(false), "OK\r\n");
  EXPECT_EQ(second.query("pbstatus").value()["playlistUniqueID"].stringOr(""), "FROM-FIRST");

  // Commands sent back to back are answered in order.
  second.send("version\n\rnodename\n\rnodeuniqueid\n\r");
  EXPECT_EQ(second.readReply(false), "200\r\n");
  EXPECT_EQ(second.readReply(false), "Studio A\r\n");
  EXPECT_EQ(second.readReply(false), "NODE-ID\r\n");
}

TEST_F(NodeProtocolTest, OverlongLineClosesOnlyThatClient) {
  startNode();
  TestClient flooder(server_->port());
  TestClient bystander(server_->port());
  EXPECT_EQ(bystander.command("version"), "200\r\n");
  flooder.send(std::string(kTestLineLimit + 1, 'x'));
  EXPECT_EQ(flooder.readUntilClosed(), "ERROR\r\n");
  EXPECT_EQ(bystander.command("nodename"), "Studio A\r\n");
  TestClient newcomer(server_->port());
  EXPECT_EQ(newcomer.command("version"), "200\r\n");
}

}  // namespace
}  // namespace standin
