// The WebSocket server side and client against other implementations on
// loopback: Debian's python3-websockets, and a scripted python peer for the
// authentication answers, the ping deadline and the reconnection rhythm.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>

#include "control/websocket/CVNClientWebSocket.h"
#include "control/websocket/CVNServerWebSocket.h"
#include "control/websocket/DigestAuthentication.h"
#include "foundation/Digests.h"
#include "platform/Clock.h"
#include "tests/control/SocketTestSupport.h"
#include "tests/control/support/EchoWebSocket.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace control_testing {
namespace {

using namespace std::chrono_literals;
using control::CVNClientWebSocket;
using control::CVNServerWebSocket;
using control::HTTPMessage;
using testing_support::ChildProcess;

const std::string kPeers = VZ_CONTROL_TEST_PEERS;

std::unique_ptr<ChildProcess> startPython(const std::string& script, std::vector<std::string> arguments = {}) {
  std::vector<std::string> argv{"/usr/bin/python3", kPeers + "/" + script};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::string error;
  auto child = ChildProcess::start(argv, {}, &error);
  EXPECT_TRUE(child) << error;
  return child;
}

// The port from the peer's "port <n>" line, once the whole line has come.
std::uint16_t portOf(ChildProcess& child) {
  long port = 0;
  const bool found = testing_support::waitForCondition([&] {
    const std::string out = child.standardOutput();
    const auto at = out.find("port ");
    if (at == std::string::npos || out.find('\n', at) == std::string::npos) return false;
    port = std::strtol(out.c_str() + at + 5, nullptr, 10);
    return true;
  });
  return found && port > 0 && port < 65536 ? static_cast<std::uint16_t>(port) : 0;
}

// Accepts connections, reads the upgrade request and hands the socket to an
// echoing server WebSocket speaking "chat" when asked for it.
class UpgradeAcceptor : public control::CVNSocketDelegate {
 public:
  void socketDidAcceptNewSocket(const std::shared_ptr<CVNSocket>&, const std::shared_ptr<CVNSocket>& s) override {
    std::lock_guard guard(mutex_);
    requests_.insert_or_assign(s.get(), HTTPMessage::emptyRequest());
    sockets_.push_back(s);
    s->readDataToData(CVNSocket::CRLFData(), 30, HTTPMessage::kMaxLineLength, 0);
  }
  void socketDidReadData(const std::shared_ptr<CVNSocket>& s, const control::CVNSocketData& data, std::int64_t) override {
    std::unique_lock lock(mutex_);
    HTTPMessage& request = requests_.at(s.get());
    if (request.appendHeaderLine(data.view()) == HTTPMessage::AppendResult::NeedMore) {
      s->readDataToData(CVNSocket::CRLFData(), 30, HTTPMessage::kMaxLineLength, 0);
      return;
    }
    const bool wantsChat = request.headerField("Sec-WebSocket-Protocol").value_or("").find("chat") != std::string::npos;
    auto ws = EchoWebSocket::make(s, request, wantsChat ? "chat" : "");
    webSockets_.push_back(ws);
    lock.unlock();
    ws->start();
  }

 private:
  std::mutex mutex_;
  std::map<CVNSocket*, HTTPMessage> requests_;
  std::vector<std::shared_ptr<CVNSocket>> sockets_;
  std::vector<std::shared_ptr<CVNServerWebSocket>> webSockets_;
};

TEST(WebSocketAcceptKeyTest, AnswersTheExampleKey) {
  EXPECT_EQ(control::webSocketAcceptKey("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

class ServerWebSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = CVNSocket::create(acceptor_, queue_);
    ASSERT_TRUE(listener_->acceptOnInterface("127.0.0.1", 0));
  }
  void TearDown() override { listener_->disconnect(); }
  std::shared_ptr<platform::DispatchQueue> queue_ = makeDelegateQueue();
  std::shared_ptr<UpgradeAcceptor> acceptor_ = std::make_shared<UpgradeAcceptor>();
  std::shared_ptr<CVNSocket> listener_;
};

TEST_F(ServerWebSocketTest, PythonClientUpgradesEchoesPingsAndCloses) {
  auto client = startPython("websocket_echo_client.py", {std::to_string(listener_->localPort())});
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->waitForOutput("done\n", false, 20s)) << client->standardError();
  const std::string out = client->standardOutput();
  EXPECT_NE(out.find("protocol chat"), std::string::npos) << out;
  EXPECT_NE(out.find("echo hello"), std::string::npos) << out;
  EXPECT_NE(out.find("pong"), std::string::npos) << out;
  EXPECT_NE(out.find("closed 1000"), std::string::npos) << out;
}

TEST_F(ServerWebSocketTest, UpgradeWithoutKeyIsClosedUnanswered) {
  auto delegate = std::make_shared<RecordingDelegate>();
  auto raw = CVNSocket::create(delegate, queue_);
  ASSERT_TRUE(raw->connectToHost("127.0.0.1", listener_->localPort(), 5));
  raw->writeData(control::makeBytes("GET /feed HTTP/1.1\r\nHost: a\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n"), -1, 1);
  raw->readDataWithTimeout(10, 2);
  ASSERT_TRUE(delegate->waitFor("disconnect"));
  EXPECT_FALSE(delegate->has("read 2"));
  EXPECT_TRUE(delegate->has("disconnect CVNSocketErrorDomain 7"));
}

// Records what the client tells, as lines.
class ClientRecorder : public control::CVNClientWebSocketDelegate {
 public:
  void socketDidOpen(CVNClientWebSocket&) override { record("open"); }
  void socketDidAutomaticallyReconnect(CVNClientWebSocket&) override { record("reconnected"); }
  void socketDidLoseConnection(CVNClientWebSocket&) override { record("lost"); }
  void socketDidClose(CVNClientWebSocket&) override { record("close"); }
  void socketDoesNotSupportProtocol(CVNClientWebSocket&) override { record("protocol refused"); }
  void socketRequiresAuthentication(CVNClientWebSocket&) override { record("authentication"); }
  void socketDidTimeout(CVNClientWebSocket&) override { record("timeout"); }
  void socketCouldNotOpen(CVNClientWebSocket&) override { record("could not open"); }
  void socketCouldNotReconnect(CVNClientWebSocket&) override { record("could not reconnect"); }
  void socketDidReceiveEvent(CVNClientWebSocket&, const nlohmann::json& event) override { record("event " + event.dump()); }

  void record(std::string line) {
    {
      std::lock_guard guard(mutex_);
      lines_.push_back(std::move(line));
    }
    changed_.notify_all();
  }
  bool waitFor(const std::string& line, std::size_t times = 1) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 20s, [&] { return std::count(lines_.begin(), lines_.end(), line) >= long(times); });
  }
  std::vector<std::string> lines() {
    std::lock_guard guard(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
};

TEST(ClientWebSocketTest, ReceivesObjectEventsFromAPythonServerAndDropsArrays) {
  auto server = startPython("websocket_event_server.py");
  ASSERT_TRUE(server);
  const std::uint16_t port = portOf(*server);
  ASSERT_NE(port, 0) << server->standardError();
  auto recorder = std::make_shared<ClientRecorder>();
  auto client = CVNClientWebSocket::create("127.0.0.1", port, "feed", "v1");
  client->setDelegate(recorder);
  ASSERT_TRUE(client->connect());
  ASSERT_TRUE(recorder->waitFor("event {\"event\":\"second\"}")) << server->standardError();
  EXPECT_EQ(recorder->lines(), (std::vector<std::string>{"open", "event {\"event\":\"tally\",\"on\":true}",
                                                         "event {\"event\":\"second\"}"}));
  EXPECT_TRUE(server->waitForOutput("path /feed protocol v1", false, 5s));
  client->disconnect();
  ASSERT_TRUE(recorder->waitFor("close"));
}

class ScriptedPeerTest : public ::testing::Test {
 protected:
  std::shared_ptr<CVNClientWebSocket> start(const std::vector<std::string>& script, std::string user = {},
                                            std::string password = {}) {
    peer_ = startPython("scripted_http_peer.py", script);
    const std::uint16_t port = portOf(*peer_);
    EXPECT_NE(port, 0);
    auto client = CVNClientWebSocket::create("127.0.0.1", port, "feed", "", std::move(user), std::move(password));
    client->setDelegate(recorder_);
    client->setKeychain(keychain_);
    EXPECT_TRUE(client->connect());
    return client;
  }
  // The lines of request n as the peer printed them.
  std::string request(int n) {
    EXPECT_TRUE(peer_->waitForOutput("end " + std::to_string(n) + "\n", false, 20s));
    const std::string out = peer_->standardOutput();
    const auto from = out.find("request " + std::to_string(n) + "\n");
    const auto to = out.find("request " + std::to_string(n + 1) + "\n");
    return out.substr(from, to == std::string::npos ? std::string::npos : to - from);
  }
  // Lets the client's queue run what is queued (its timers are then armed).
  void settle(CVNClientWebSocket& client) {
    for (int i = 0; i < 3; ++i) client.socketQueue()->sync([] {}, 5s);
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride useClock_{clock_};
  testing_support::TemporaryDirectory folder_;
  std::shared_ptr<platform::Keychain> keychain_ = std::make_shared<platform::Keychain>(folder_ / "keychain.plist");
  std::shared_ptr<ClientRecorder> recorder_ = std::make_shared<ClientRecorder>();
  std::unique_ptr<ChildProcess> peer_;
};

TEST_F(ScriptedPeerTest, DigestChallengeWithNonceEndingInEqualsIsAnsweredOnTheRetry) {
  ASSERT_TRUE(keychain_->setPassword("127.0.0.1", "operator", "s3cret"));
  auto client = start({"digest-eq", "accept"});
  const std::string first = request(1);
  EXPECT_NE(first.find("GET /feed HTTP/1.1"), std::string::npos) << first;
  EXPECT_EQ(first.find("Authorization"), std::string::npos) << first;
  EXPECT_EQ(first.find("Sec-WebSocket-Extensions"), std::string::npos) << first;
  ASSERT_TRUE(recorder_->waitFor("could not open"));
  settle(*client);
  clock_.advance(1s);
  const std::string second = request(2);
  EXPECT_NE(second.find("Authorization: Digest username=\"operator\", realm=\"studio, main\", nonce=\"bm9uY2U=\", "
                        "uri=\"/feed\", response=\""),
            std::string::npos)
      << second;
  EXPECT_NE(second.find("nc=00000001, qop=\"auth\""), std::string::npos) << second;
  ASSERT_TRUE(recorder_->waitFor("reconnected"));
  EXPECT_EQ(recorder_->lines().front(), "authentication");
  client->disconnect();
}

TEST_F(ScriptedPeerTest, DigestWithoutAuthQopGivesNoAnswerAndStatus400IsReported) {
  ASSERT_TRUE(keychain_->setPassword("127.0.0.1", "operator", "s3cret"));
  auto client = start({"digest-int", "bad"});
  ASSERT_TRUE(recorder_->waitFor("could not open"));
  settle(*client);
  clock_.advance(1s);
  EXPECT_EQ(request(2).find("Authorization"), std::string::npos);
  ASSERT_TRUE(recorder_->waitFor("protocol refused"));
  client->disconnect();
}

TEST_F(ScriptedPeerTest, BasicGoesOutOnlyWhenAsked) {
  auto client = start({"basic", "accept"}, "user", "secret");
  EXPECT_EQ(request(1).find("Authorization"), std::string::npos);
  ASSERT_TRUE(recorder_->waitFor("could not open"));
  settle(*client);
  clock_.advance(1s);
  EXPECT_NE(request(2).find("Authorization: Basic dXNlcjpzZWNyZXQ="), std::string::npos);
  ASSERT_TRUE(recorder_->waitFor("reconnected"));
  client->disconnect();
}

TEST_F(ScriptedPeerTest, SilentPeerIsDroppedAtThePingDeadlineThenRetriedAtZeroOneAndTenSeconds) {
  auto client = start({"accept", "bad", "bad", "bad"});
  ASSERT_TRUE(recorder_->waitFor("open"));
  settle(*client);
  clock_.advance(5s);  // first ping; the peer never answers
  settle(*client);
  const auto early = recorder_->lines();
  EXPECT_EQ(std::count(early.begin(), early.end(), std::string("lost")), 0);
  clock_.advance(10s);  // no pong since: disconnect, retry at once
  ASSERT_TRUE(recorder_->waitFor("lost"));
  request(2);
  ASSERT_TRUE(recorder_->waitFor("could not reconnect", 1));
  settle(*client);
  clock_.advance(999ms);
  settle(*client);
  EXPECT_EQ(peer_->standardOutput().find("request 3\n"), std::string::npos);
  clock_.advance(1ms);
  request(3);
  ASSERT_TRUE(recorder_->waitFor("could not reconnect", 2));
  settle(*client);
  clock_.advance(9s);
  settle(*client);
  EXPECT_EQ(peer_->standardOutput().find("request 4\n"), std::string::npos);
  clock_.advance(1s);
  request(4);
  client->disconnect();
}

// Answers the client must not take for an open connection.
class RefusedUpgradeTest : public ScriptedPeerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RefusedUpgradeTest, EndsTheAttemptWithoutOpening) {
  auto client = start({GetParam()});
  ASSERT_TRUE(recorder_->waitFor("could not open"));
  const auto lines = recorder_->lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("open")), 0);
  client->disconnect();
}

INSTANTIATE_TEST_SUITE_P(Answers, RefusedUpgradeTest, ::testing::Values("wrong-key", "extension", "long-head"));

// A port free right now on 127.0.0.1, for a server that cannot be told port 0.
std::uint16_t freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);
  return bound ? ntohs(address.sin_port) : 0;
}

// lighttpd asks for Digest login in front of a WebSocket tunnel to a TCP echo
// backend: the client answers the challenge on its retry, then its messages
// come back through the tunnel.
TEST_F(ScriptedPeerTest, PassesDigestLoginOfARealServerAndExchangesMessagesThroughIt) {
  if (::access("/usr/sbin/lighttpd", X_OK) != 0) GTEST_SKIP() << "lighttpd is not installed";
  auto backend = startPython("tcp_echo_server.py");
  ASSERT_TRUE(backend);
  const std::uint16_t backendPort = portOf(*backend);
  ASSERT_NE(backendPort, 0) << backend->standardError();
  const std::uint16_t port = freeLoopbackPort();
  ASSERT_NE(port, 0);
  auto ha1 = foundation::CreateMD5DigestOfString("operator:studio:s3cret");
  ASSERT_TRUE(ha1);
  std::ofstream(folder_ / "users.htdigest") << "operator:studio:" << control::hexadecimalString(*ha1) << "\n";
  std::ofstream(folder_ / "lighttpd.conf")
      << "server.modules = (\"mod_auth\", \"mod_authn_file\", \"mod_wstunnel\")\n"
      << "server.document-root = \"" << folder_.path().string() << "\"\n"
      << "server.bind = \"127.0.0.1\"\nserver.port = " << port << "\n"
      << "auth.backend = \"htdigest\"\n"
      << "auth.backend.htdigest.userfile = \"" << (folder_ / "users.htdigest").string() << "\"\n"
      << "auth.require = (\"/feed\" => (\"method\" => \"digest\", \"realm\" => \"studio\", "
      << "\"require\" => \"valid-user\"))\n"
      << "wstunnel.server = (\"/feed\" => ((\"host\" => \"127.0.0.1\", \"port\" => " << backendPort << ")))\n"
      << "wstunnel.frame-type = \"text\"\n";
  std::string error;
  auto server = ChildProcess::start({"/usr/sbin/lighttpd", "-D", "-f", (folder_ / "lighttpd.conf").string()}, {}, &error);
  ASSERT_TRUE(server) << error;
  ASSERT_TRUE(testing_support::waitForCondition([&] {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return up;
  })) << server->standardError();

  ASSERT_TRUE(keychain_->setPassword("127.0.0.1", "operator", "s3cret"));
  auto client = CVNClientWebSocket::create("127.0.0.1", port, "feed");
  client->setDelegate(recorder_);
  client->setKeychain(keychain_);
  ASSERT_TRUE(client->connect());
  ASSERT_TRUE(recorder_->waitFor("authentication")) << server->standardError();
  ASSERT_TRUE(recorder_->waitFor("could not open"));
  settle(*client);
  clock_.advance(1s);
  ASSERT_TRUE(recorder_->waitFor("reconnected")) << server->standardError();
  client->sendData(std::string_view("{\"event\":\"take\",\"n\":1}"));
  ASSERT_TRUE(recorder_->waitFor("event {\"event\":\"take\",\"n\":1}")) << server->standardError();
  client->disconnect();
  ASSERT_TRUE(recorder_->waitFor("close"));
}

}  // namespace
}  // namespace control_testing
